// NoticeSink: where the server tells the operator something that needs
// attention (a bad index folder, a folder that cannot be watched).
//
// Each notice has a caption, a text and the time after which it closes by
// itself. The console shows it; a headless server writes it to standard error
// and to the event log. Calls never block on the operator.
//
// Thread safety: implementations accept calls from any thread.
#pragma once

#include <string>

namespace vantrel {

class NoticeSink {
 public:
  virtual ~NoticeSink() = default;
  virtual void ShowNotice(const std::string& caption, const std::string& text,
                          int auto_close_ms) = 0;
};

// Discards every notice.
class NullNoticeSink : public NoticeSink {
 public:
  void ShowNotice(const std::string&, const std::string&, int) override {}
};

}  // namespace vantrel
