// The vantrelctl commands and the dispatcher that picks one.
//
// Each command function takes the call (start directory and the words after
// the command) and returns the exit status (kCtlOk, kCtlFailed, kCtlUsage).
// Messages go to env.err, results to env.out.
//
// Thread safety: one command at a time per CtlEnv.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/ctl_context.h"

namespace vantrel {

// Runs `vantrelctl ARGS...` (args without the program name).
int RunVantrelctl(const std::vector<std::string>& args, const CtlEnv& env);

// config show [--json]
int CmdConfigShow(const CtlCall& call, const CtlEnv& env);
// index add NAME FOLDER | index remove N | index set N OPTION VALUE
int CmdIndexAdd(const CtlCall& call, const CtlEnv& env);
int CmdIndexRemove(const CtlCall& call, const CtlEnv& env);
int CmdIndexSet(const CtlCall& call, const CtlEnv& env);
// "xmp on, charset on, dimensions off, dates on": the four metadata switches
// of a stored switch word, as `config show` prints them.
std::string MetadataSwitchesText(uint32_t stored_bits);
// folder add N PATH [--win NAME] [--mac NAME] [--no-subfolders] | folder remove N K
int CmdFolderAdd(const CtlCall& call, const CtlEnv& env);
int CmdFolderRemove(const CtlCall& call, const CtlEnv& env);
// log set [...]
int CmdLogSet(const CtlCall& call, const CtlEnv& env);
// pdf set [...]
int CmdPdfSet(const CtlCall& call, const CtlEnv& env);
// task rebuild|optimize|rescan [N], log clear, stats clear N: server actions
int CmdTaskRebuild(const CtlCall& call, const CtlEnv& env);
int CmdTaskOptimize(const CtlCall& call, const CtlEnv& env);
int CmdTaskRescan(const CtlCall& call, const CtlEnv& env);
int CmdLogClear(const CtlCall& call, const CtlEnv& env);
int CmdStatsClear(const CtlCall& call, const CtlEnv& env);
// pdf render FILE
int CmdPdfRender(const CtlCall& call, const CtlEnv& env);
// list FILE [--json] [--by-time]
int CmdList(const CtlCall& call, const CtlEnv& env);
// inspect FILE [--no-docinfo]
int CmdInspect(const CtlCall& call, const CtlEnv& env);
// search INDEX-FOLDER QUERY [...] | search INDEX-FOLDER --raw QUERY [...]
// Exit status 0 with hits, 1 without, 2 on bad arguments, errors, time-out.
int CmdSearch(const CtlCall& call, const CtlEnv& env);

// Prints "error: MESSAGE" and a hint to the command's --help; returns kCtlUsage.
int UsageError(const CtlEnv& env, const std::string& command, const std::string& message);

}  // namespace vantrel
