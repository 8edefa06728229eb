#pragma once
// The plug-in control values a slot keeps in its key "WinampPluginControls": entries
// "<control name>=<value>" separated by "|", for example "Threshold level (dB)=-20|Ratio (1:n)=4".
// The last "=" of an entry separates name and value (names may contain "="); values are written
// in the C locale with the fewest digits that read back to the same float.
//
// Thread contract: plain functions; any thread.
#include <string>
#include <vector>

namespace velloran::slots {

struct ChosenControl {
  std::string name;
  float value = 0.0f;
};

struct ParsedControls {
  std::vector<ChosenControl> controls;
  std::vector<std::string> rejected;  // entries without a name or a finite number
};

ParsedControls ParseWinampPluginControls(const std::string& text);
std::string FormatWinampPluginControls(const std::vector<ChosenControl>& controls);
// The name under which a control is kept: its port name without surrounding blanks.
std::string ChosenControlName(const std::string& portName);
// Replaces the value of the control, or appends it. False (nothing changed) for a name that the
// format cannot hold: empty, or containing "|".
bool SetChosenControl(std::vector<ChosenControl>& controls, const std::string& portName,
                      float value);

}  // namespace velloran::slots
