#pragma once
// Text layout options shared by labels, buttons, text fields and text measuring.

namespace platform {

enum class TextAlignment { Left = 0, Center = 1, Right = 2 };

enum class LineBreakMode {
  WordWrap = 0,
  CharacterWrap = 1,
  Clip = 2,
  TruncatingHead = 3,
  TruncatingTail = 4,
  TruncatingMiddle = 5,
};

}  // namespace platform
