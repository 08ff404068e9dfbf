#pragma once

// Counts what a form model changes, as a window mirroring it would see: a
// profile the form cannot take must change nothing.

#include "app/form_model.h"

struct ChangeCounter : FormView {
  int changes = 0;
  void controlChanged(int) override { ++changes; }
  void focus(int, bool) override {}
  void refresh(int) override {}
};
