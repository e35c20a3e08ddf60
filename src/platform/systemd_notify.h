// The server's side of running as a systemd service: readiness and status
// notifications (sd_notify) and the priority of its standard error lines in
// the journal.
//
// Notifications go to the socket named by NOTIFY_SOCKET, which systemd sets
// for a Type=notify service. Without it (a server started from a shell, every
// test) each call does nothing. A build without libsystemd
// (-DVANTREL_SYSTEMD=OFF, or the package missing) never notifies.
//
// Journal: under systemd, standard error is a stream into the journal and
// JOURNAL_STREAM names it ("<device>:<inode>"). When standard error is that
// stream, each line is written as "<N>text", N being the syslog priority
// (3 error, 4 warning, 6 information), which the journal takes as the line's
// priority and strips; the journal adds the program name itself. Anywhere
// else a line reads "vantrel: text" as before.
//
// Status texts and lines are made single lines: control characters become
// blanks, so that no text (a folder name among them) can add a notification
// assignment or a journal line of its own.
//
// Thread safety: every function may be called from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel {

// True when this build was made with libsystemd.
bool SystemdNotifyBuiltIn();

// "READY=1" with the status text: the server runs (its threads are started).
void NotifyReady(std::string_view status);
// "STATUS=text". A text equal to the last one sent is not sent again, so a
// busy operation line costs one message per change, not one per file.
void NotifyStatus(std::string_view status);
// "STOPPING=1" with the status text: the server has begun its clean stop.
void NotifyStopping(std::string_view status);

// Journal priorities of the server's lines, by kind.
enum class LogPriority : int {
  kError = 3,    // the server cannot do what it should (start, save, write)
  kWarning = 4,  // notices: something the operator should look at
  kInfo = 6,     // events of the event log
};

// True when `journal_stream` (the value of JOURNAL_STREAM, "<dev>:<inode>")
// names the stream with this device and inode number.
bool NamesJournalStream(std::string_view journal_stream, uint64_t device, uint64_t inode);

// One standard error line, with its final newline: "<N>text" for the
// journal, "vantrel: text" otherwise.
std::string StandardErrorLine(LogPriority priority, std::string_view text, bool journal);

// True when standard error is the journal stream of JOURNAL_STREAM (checked
// once, at the first call).
bool StandardErrorIsJournal();

// Writes StandardErrorLine(priority, text, StandardErrorIsJournal()) to
// standard error in one write.
void WriteStandardErrorLine(LogPriority priority, std::string_view text);

}  // namespace vantrel
