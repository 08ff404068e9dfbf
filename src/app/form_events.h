#pragma once

#include "core/state.h"

// What the window reports about its controls. The handlers only raise change
// flags (or, for "Start On Time:", enable the picker at once); the work runs
// in the next poll pass.
enum class FormEvent { Clicked, SelectionChanged, TextChanged };

void OnFormEvent(ToolState& state, int id, FormEvent event);
