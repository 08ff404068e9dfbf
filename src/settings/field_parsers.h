#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "core/state.h"

// Parsers for what the user types into the form. Each returns a one-byte
// result code, 0 meaning accepted. With a label, a failure is also told to
// the user in a message that starts with the label; without one, nothing is
// shown.
using Label = std::optional<std::string_view>;
inline constexpr Label NoLabel = std::nullopt;

// 0 ok, 1 out of range (or a 20th digit), 2 empty, 3 illegal character.
uint8_t ParseInteger(MessagePort* messages, std::string_view text, int32_t min, int32_t max,
                     Label label, int32_t& value);

// 0 ok, 1 out of range (or an 11th digit before the point), 2 empty,
// 3 illegal character, 4 a second decimal point.
uint8_t ParseReal(MessagePort* messages, std::string_view text, double min, double max,
                  Label label, double& value);

// `bytes` is the text already converted to the logger's code page; `size` the
// byte size of its destination field (1..255). `firstUnheld` is the position
// of the byte standing for the first character the code page cannot hold
// (npos: none); it is illegal in any field, restricted or not.
// 0 ok, 1 empty where empty is not allowed, 2 too long, 3 illegal characters.
uint8_t CheckText(MessagePort* messages, std::string_view bytes, std::size_t size,
                  bool restricted, bool allowEmpty, Label label,
                  std::size_t firstUnheld = std::string_view::npos);

// Whether a byte may occur in a restricted text field.
bool IsAllowedTextByte(uint8_t byte);

// The number parsers on an edit box of the form. On failure, after any
// message, the caret goes to the end of the box and the box takes the focus.
uint8_t ReadIntegerField(ToolState& state, int id, int32_t min, int32_t max, Label label,
                         int32_t& value);
uint8_t ReadRealField(ToolState& state, int id, Label label, double min, double max,
                      double& value);
