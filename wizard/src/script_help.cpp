// joinwiz --help-script: the steps of an answers script and the controls of
// every page, taken from the registered templates so that the table is the
// program's own.
#include <cstdio>
#include <string>

#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "wizard/command_line.h"

namespace wizard {

namespace {

constexpr const char* kSteps =
    "An answers script (joinwiz --answers SCRIPT) is one step a line; '#' starts a comment.\n"
    "\n"
    "  wait DIALOG                 the dialog is shown and enabled\n"
    "  set CONTROL TEXT            replace the text of an edit or combo box, as typed\n"
    "  check CONTROL / uncheck CONTROL\n"
    "  select CONTROL TEXT         a list or combo item by its text\n"
    "  click CONTROL\n"
    "  key KEY                     Enter, Esc, Tab, Shift-Tab, Space, Up, Down, Left, Right,\n"
    "                              Home, End, PageUp, PageDown, Backspace, Delete, F1,\n"
    "                              or Alt+LETTER (the underlined letter of a button or label)\n"
    "  expect-message TEXT         a message box whose text holds TEXT is up\n"
    "  answer OK|Cancel|Yes|No     closes the message box with that button\n"
    "  expect-text CONTROL TEXT    the control's text holds TEXT\n"
    "  timeout SECONDS             time-out of the steps after it (default 120)\n"
    "\n"
    "DIALOG is a dialog id below or its caption in double quotes (\"Personal Information\").\n"
    "CONTROL is a control id below or a label in double quotes: a button, check box or radio\n"
    "button by its own text (\"Next >\"), any other control by the label before it\n"
    "(\"First Name:\" or \"First Name\").\n"
    "\n"
    "Each step waits until its target is there (at most the time-out). A step that fails ends\n"
    "the run with exit code 3 and writes the controls of the dialog that was up to standard\n"
    "error; --transcript FILE records every dialog, message box and step.\n";

const char* class_of(const platform::ControlTemplate& c) {
  using namespace platform;
  const std::string& cls = c.cls;
  if (cls == "EDIT") return "edit";
  if (cls == "COMBOBOX") return "combo-box";
  if (cls == "LISTBOX") return "list-box";
  if (cls == "STATIC") return (c.style & SS_TYPEMASK) == SS_BITMAP ? "picture" : "label";
  switch (c.style & BS_TYPEMASK) {
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX: return "check-box";
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON: return "radio";
    case BS_GROUPBOX: return "group-box";
    case BS_OWNERDRAW: return "owner-drawn";
    default: return "button";
  }
}

}  // namespace

std::string script_help_text() {
  std::string out = kSteps;
  for (int id : platform::dialog_template_ids()) {
    const platform::DialogTemplate* t = platform::find_dialog_template(id);
    if (!t) continue;
    out += "\nDialog " + std::to_string(id) + " \"" + t->caption + "\"\n";
    std::string last_label;  // the label before a field names it
    for (const platform::ControlTemplate& c : t->controls) {
      const std::string cls = class_of(c);
      const std::string label = last_label;
      last_label = cls == "label" ? c.text : std::string();
      // Pictures and separators are nothing a script can act on.
      if (cls == "picture" || cls == "owner-drawn") continue;
      if (cls == "label" && c.text.empty() && c.id == platform::IDC_STATIC) continue;
      std::string text = c.text;
      if (text.size() > 60) text = text.substr(0, 57) + "...";
      char line[128];
      std::snprintf(line, sizeof line, "  %6s  %-10s ", c.id == platform::IDC_STATIC ? "-" : std::to_string(c.id).c_str(),
                    cls.c_str());
      out += line;
      if (!text.empty()) out += "\"" + text + "\"";
      else if ((cls == "edit" || cls == "combo-box" || cls == "list-box") && !label.empty())
        out += "(label \"" + label + "\")";
      if (!(c.style & platform::WS_VISIBLE)) out += "  (hidden at first)";
      out += "\n";
    }
  }
  return out;
}

}  // namespace wizard
