// The configuration commands of vantrelctl as a running server's console
// carries them out (tools/ctl_running_server.h). Each takes the arguments
// as the command checked them, numbers counted from 0 as "config show"
// prints them; the console API counts indexes from 1.
//
// Thread safety: one command at a time.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "tools/ctl_context.h"

namespace vantrel {

int RemoteIndexAdd(const CtlCall& call, const CtlEnv& env, const std::string& name,
                   const std::string& folder);
int RemoteIndexRemove(const CtlCall& call, const CtlEnv& env, const std::string& number);
// `index set N OPTION VALUE` for the options of the console's options page;
// others are refused (they need the server stopped).
int RemoteIndexSet(const CtlCall& call, const CtlEnv& env, const std::string& number,
                   const std::string& option, const std::string& text, uint32_t value);
// `index set N metadata WHAT on|off` through the console's options.
int RemoteMetadataSwitch(const CtlCall& call, const CtlEnv& env, const std::string& number,
                         const std::string& name, bool on);
// `win`/`mac` null: looked up by the server, as the page pre-fills them.
int RemoteFolderAdd(const CtlCall& call, const CtlEnv& env, const std::string& number,
                    const std::string& path, const std::string* win, const std::string* mac,
                    bool subfolders);
// `slot`: the folder number (01 to 31) as the configuration data file has it.
int RemoteFolderRemove(const CtlCall& call, const CtlEnv& env, const std::string& number,
                       int slot);
// `body`: the members of /api/log/options.
int RemoteLogSet(const CtlCall& call, const CtlEnv& env, const nlohmann::json& body);
// `body`: the members of /api/pdf. With `look_up_names`, the Windows and
// Macintosh names of body["folder"] are asked from the server first.
int RemotePdfSet(const CtlCall& call, const CtlEnv& env, nlohmann::json body,
                 bool look_up_win, bool look_up_mac);

// "The server must be stopped for this": printed, kCtlFailed.
int NeedsStoppedServer(const CtlCall& call, const CtlEnv& env, const std::string& what);

}  // namespace vantrel
