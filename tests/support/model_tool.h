#pragma once

// A started tool (initialised form, first pass run) on the form model the
// window and the commands use, with a view that counts what the form
// changes: a profile the form cannot take must change nothing.

#include "app/form_model.h"
#include "app/poll_pass.h"
#include "support/test_tool.h"

struct ChangeCounter : FormView {
  int changes = 0;
  void controlChanged(int) override { ++changes; }
  void focus(int, bool) override {}
  void refresh(int) override {}
};

struct ModelTool {
  TestTool tool;
  FormModel form{*tool.state};
  ChangeCounter view;
  ModelTool() {
    tool.s().ports.form = &form;
    form.setView(&view);
    InitialiseForm(tool.s());
    RunPollPass(tool.s());
  }
  ToolState& s() { return tool.s(); }
};
