#include "upgrade/firmware_images.h"

// The images are pulled in whole by the assembler rather than spelt out as a
// C++ array: a hundred kilobytes of initialiser would be slow to compile and
// useless to read. The build (cmake/FirmwareImages.cmake) puts the folder of
// the chosen images on the assembler's include path, rebuilds this file when
// an image changes, and says whether they are stand-ins.
#ifndef THLOGGER_FIRMWARE_STAND_INS
#error "THLOGGER_FIRMWARE_STAND_INS comes from cmake/FirmwareImages.cmake"
#endif

asm(R"(
    .pushsection .rodata.thlogger_firmware, "a", @progbits
    .balign 16
    .globl thlogger_fw_stm32
    .hidden thlogger_fw_stm32
    .type thlogger_fw_stm32, @object
thlogger_fw_stm32:
    .incbin "thlogger-fw-stm32.bin"
.Lthlogger_fw_stm32_end:
    .size thlogger_fw_stm32, .Lthlogger_fw_stm32_end - thlogger_fw_stm32

    .balign 16
    .globl thlogger_fw_kl26
    .hidden thlogger_fw_kl26
    .type thlogger_fw_kl26, @object
thlogger_fw_kl26:
    .incbin "thlogger-fw-kl26.bin"
.Lthlogger_fw_kl26_end:
    .size thlogger_fw_kl26, .Lthlogger_fw_kl26_end - thlogger_fw_kl26

    .balign 8
    .globl thlogger_fw_stm32_size
    .hidden thlogger_fw_stm32_size
    .type thlogger_fw_stm32_size, @object
    .size thlogger_fw_stm32_size, 8
thlogger_fw_stm32_size:
    .quad .Lthlogger_fw_stm32_end - thlogger_fw_stm32
    .globl thlogger_fw_kl26_size
    .hidden thlogger_fw_kl26_size
    .type thlogger_fw_kl26_size, @object
    .size thlogger_fw_kl26_size, 8
thlogger_fw_kl26_size:
    .quad .Lthlogger_fw_kl26_end - thlogger_fw_kl26
    .popsection
)");

// The lengths are what the assembler found, not the expected constants, so a
// wrong file shows up as a wrong length instead of a read past its end.
extern "C" {
extern const uint8_t thlogger_fw_stm32[];
extern const uint8_t thlogger_fw_kl26[];
extern const uint64_t thlogger_fw_stm32_size;
extern const uint64_t thlogger_fw_kl26_size;
}

std::span<const uint8_t> AppImageStm32() {
  return {thlogger_fw_stm32, static_cast<std::size_t>(thlogger_fw_stm32_size)};
}

std::span<const uint8_t> AppImageKl26() {
  return {thlogger_fw_kl26, static_cast<std::size_t>(thlogger_fw_kl26_size)};
}

bool FirmwareImagesAreStandIns() { return THLOGGER_FIRMWARE_STAND_INS != 0; }
