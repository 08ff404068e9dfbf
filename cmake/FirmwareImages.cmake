# The two firmware images thlogger_core carries (src/upgrade/firmware_images.cpp
# pulls them in with the assembler's .incbin).
#
# THLOGGER_FIRMWARE_DIR empty: the build generates stand-ins of the right
# lengths (tools/firmware/make_standin_images.cpp). They are not firmware: a
# logger upgraded with one is left without working firmware.
#
# THLOGGER_FIRMWARE_DIR set: a folder holding the real images,
#   STM32.BIN  the drive family's image (written to the logger as APP.BIN)
#   KL26.BIN   the HID family's image, beginning with "MKL26Z128_APP.BIN" and a NUL
# checked here, at configure time, and copied into the build.

set(THLOGGER_FIRMWARE_DIR "" CACHE PATH
    "Folder with the real firmware images STM32.BIN and KL26.BIN; empty embeds generated stand-ins")

# The lengths and the header come from the header the code is built against,
# so the check and the code cannot disagree.
set(_fw_header "${PROJECT_SOURCE_DIR}/src/upgrade/firmware_images.h")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_fw_header}")
file(READ "${_fw_header}" _fw_declarations)
string(REGEX MATCH "kAppImageStm32Length = ([0-9]+);" _ "${_fw_declarations}")
set(_fw_stm32_length "${CMAKE_MATCH_1}")
string(REGEX MATCH "kAppImageKl26Length = ([0-9]+);" _ "${_fw_declarations}")
set(_fw_kl26_length "${CMAKE_MATCH_1}")
string(REGEX MATCH "kAppImageKl26Header\\[\\] = \"([^\"]+)\";" _ "${_fw_declarations}")
set(_fw_kl26_header "${CMAKE_MATCH_1}")
if(NOT _fw_stm32_length OR NOT _fw_kl26_length OR NOT _fw_kl26_header)
  message(FATAL_ERROR "cmake/FirmwareImages.cmake: cannot read the image lengths and the "
                      "Kl26 header from ${_fw_header}")
endif()

# Refuses a file that cannot be the image: missing, the wrong length, or (when
# header_text is given) not beginning with that text and a NUL.
function(thlogger_check_firmware_image path what length header_text)
  if(NOT EXISTS "${path}" OR IS_DIRECTORY "${path}")
    message(FATAL_ERROR "THLOGGER_FIRMWARE_DIR: the ${what} image ${path} is missing")
  endif()
  file(SIZE "${path}" size)
  if(NOT size EQUAL length)
    message(FATAL_ERROR "THLOGGER_FIRMWARE_DIR: the ${what} image ${path} is ${size} bytes "
                        "long; it must be ${length} bytes")
  endif()
  if(NOT header_text STREQUAL "")
    string(HEX "${header_text}" expected)
    string(APPEND expected "00")
    string(LENGTH "${expected}" hexDigits)
    math(EXPR headerBytes "${hexDigits} / 2")
    file(READ "${path}" found LIMIT ${headerBytes} HEX)
    if(NOT found STREQUAL expected)
      message(FATAL_ERROR "THLOGGER_FIRMWARE_DIR: the ${what} image ${path} does not begin "
                          "with \"${header_text}\" and a NUL byte")
    endif()
  endif()
endfunction()

if(THLOGGER_FIRMWARE_DIR)
  if(NOT IS_DIRECTORY "${THLOGGER_FIRMWARE_DIR}")
    message(FATAL_ERROR "THLOGGER_FIRMWARE_DIR: ${THLOGGER_FIRMWARE_DIR} is not a folder")
  endif()
  thlogger_check_firmware_image("${THLOGGER_FIRMWARE_DIR}/STM32.BIN" "STM32"
                                ${_fw_stm32_length} "")
  thlogger_check_firmware_image("${THLOGGER_FIRMWARE_DIR}/KL26.BIN" "KL26"
                                ${_fw_kl26_length} "${_fw_kl26_header}")
  # A copy under a name of our own: configure_file re-runs this check whenever
  # an image changes, and the assembler, which looks in the working directory
  # before its include path, cannot pick up some other STM32.BIN.
  set(THLOGGER_FIRMWARE_BUILD_DIR "${CMAKE_BINARY_DIR}/firmware/vendor")
  set(_fw_stm32 "${THLOGGER_FIRMWARE_BUILD_DIR}/thlogger-fw-stm32.bin")
  set(_fw_kl26 "${THLOGGER_FIRMWARE_BUILD_DIR}/thlogger-fw-kl26.bin")
  configure_file("${THLOGGER_FIRMWARE_DIR}/STM32.BIN" "${_fw_stm32}" COPYONLY)
  configure_file("${THLOGGER_FIRMWARE_DIR}/KL26.BIN" "${_fw_kl26}" COPYONLY)
  set(_fw_stand_ins 0)
  message(STATUS "Firmware images: ${THLOGGER_FIRMWARE_DIR}")
else()
  # Its own folder, apart from the copies above, so switching back and forth
  # never leaves one kind of image behind under the other's name.
  set(THLOGGER_FIRMWARE_BUILD_DIR "${CMAKE_BINARY_DIR}/firmware/stand-in")
  set(_fw_stm32 "${THLOGGER_FIRMWARE_BUILD_DIR}/thlogger-fw-stm32.bin")
  set(_fw_kl26 "${THLOGGER_FIRMWARE_BUILD_DIR}/thlogger-fw-kl26.bin")
  # A build-time tool: built without the sanitizers, which would only slow it
  # and make it one more thing that can fail to start.
  add_executable(thlogger_make_standin_images tools/firmware/make_standin_images.cpp)
  target_include_directories(thlogger_make_standin_images PRIVATE src)
  get_target_property(_fw_options thlogger_make_standin_images COMPILE_OPTIONS)
  list(FILTER _fw_options EXCLUDE REGEX "sanitize")
  set_target_properties(thlogger_make_standin_images PROPERTIES
    COMPILE_OPTIONS "${_fw_options}" LINK_OPTIONS "")
  add_custom_command(
    OUTPUT "${_fw_stm32}" "${_fw_kl26}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${THLOGGER_FIRMWARE_BUILD_DIR}"
    COMMAND thlogger_make_standin_images "${_fw_stm32}" "${_fw_kl26}"
    DEPENDS thlogger_make_standin_images
    COMMENT "Generating the stand-in firmware images"
    VERBATIM)
  # Listed as sources so the command belongs to the library's build; files of
  # an unknown kind are not compiled.
  target_sources(thlogger_core PRIVATE "${_fw_stm32}" "${_fw_kl26}")
  set(_fw_stand_ins 1)
  message(STATUS "Firmware images: generated stand-ins (set THLOGGER_FIRMWARE_DIR for real ones)")
endif()

# The compiler's dependency files do not list .incbin files, so the object
# names them itself. -Xassembler passes the folder whole, commas and all.
set_source_files_properties(src/upgrade/firmware_images.cpp PROPERTIES
  COMPILE_DEFINITIONS "THLOGGER_FIRMWARE_STAND_INS=${_fw_stand_ins}"
  COMPILE_OPTIONS "-Xassembler;-I${THLOGGER_FIRMWARE_BUILD_DIR}"
  OBJECT_DEPENDS "${_fw_stm32};${_fw_kl26}")
