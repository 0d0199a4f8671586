// Transcript lines, one per event, in the form every renderer writes them:
//   dialog ID "CAPTION" title "PAINTED TITLE"
//   message-box "CAPTION" icon ICON "TEXT"
//   beep
// Texts are quoted with \n, \" and \\ escaped and CRs dropped.
#pragma once

#include <string>
#include <string_view>

#include "platform/ui/dialog.h"
#include "platform/ui/message_box.h"

namespace display {

inline std::string quote_text(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\r') continue;
    if (c == '\n') out += "\\n";
    else if (c == '"' || c == '\\') out += std::string("\\") + c;
    else out += c;
  }
  return out + "\"";
}

inline std::string message_box_line(const platform::MessageBoxWindow& box) {
  return "message-box " + quote_text(box.caption()) + " icon " + platform::icon_name(box.icon()) + " " +
         quote_text(box.message());
}

// The dialog's line; paint it first (paint_window) so that its title is known.
inline std::string dialog_line(const platform::Dialog& dlg) {
  std::string title;
  for (const auto& t : dlg.paint_record().texts()) title += (title.empty() ? "" : " / ") + t;
  return "dialog " + std::to_string(dlg.template_id()) + " " + quote_text(dlg.text()) + " title " + quote_text(title);
}

}  // namespace display
