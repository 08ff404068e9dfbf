#pragma once

#include <span>
#include <string>
#include <vector>

// The main window's layout as data: every control in template order, which
// is also the keyboard tab order. Positions are in dialog units. Plain data,
// so that the form model and the window are built from the same table.

enum class ControlKind { Text, Button, Check, List, Edit, CentredEdit, Picker };

namespace tmpl {
inline constexpr unsigned Hidden = 1;
inline constexpr unsigned Disabled = 2;
}  // namespace tmpl

struct ControlTemplate {
  int row;  // 1-based place in the template
  int id;   // 0 for the texts nothing addresses
  ControlKind kind;
  const char* text;  // UTF-8
  int x, y, width, height;
  unsigned state;  // tmpl:: bits
};

inline constexpr int kFormWidthDu = 402;
inline constexpr int kFormHeightDu = 235;

std::span<const ControlTemplate> MainFormTemplate();

// Entries of a drop-down list, in list order, UTF-8; empty for any other id.
std::vector<std::string> ListEntries(int id);
