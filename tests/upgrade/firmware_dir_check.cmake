# Configures the project with THLOGGER_FIRMWARE_DIR pointing at a folder laid
# out for CASE, and checks that configuration refuses it with the reason, or
# accepts it.
#
#   cmake -DCASE=... -DSOURCE_DIR=... -DSCRATCH=... -DIMAGES=... \
#         -DGENERATOR=... -DMAKE_PROGRAM=... -DCXX_COMPILER=... -P firmware_dir_check.cmake
#
# IMAGES is a folder of usable images (the build's thlogger-fw-*.bin); CASE
# spoils one of them.

file(REMOVE_RECURSE "${SCRATCH}")
set(dir "${SCRATCH}/images")
file(MAKE_DIRECTORY "${dir}")
set(stm32 "${dir}/STM32.BIN")
set(kl26 "${dir}/KL26.BIN")
file(COPY_FILE "${IMAGES}/thlogger-fw-stm32.bin" "${stm32}")
file(COPY_FILE "${IMAGES}/thlogger-fw-kl26.bin" "${kl26}")

if(CASE STREQUAL "accepted")
  set(expected "Firmware images: ${dir}")
elseif(CASE STREQUAL "missing-file")
  file(REMOVE "${kl26}")
  set(expected "the KL26 image ${kl26} is missing")
elseif(CASE STREQUAL "wrong-length")
  # One byte short, as a truncated download would be; only the length counts.
  string(REPEAT "x" 118787 short)
  file(WRITE "${stm32}" "${short}")
  set(expected "the STM32 image ${stm32} is 118787 bytes long; it must be 118788 bytes")
elseif(CASE STREQUAL "no-header")
  # The right text and length, but no NUL after the name.
  string(REPEAT "x" 62447 filler)
  file(WRITE "${kl26}" "MKL26Z128_APP.BIN${filler}")
  set(expected "the KL26 image ${kl26} does not begin with \"MKL26Z128_APP.BIN\" and a NUL byte")
else()
  message(FATAL_ERROR "unknown CASE ${CASE}")
endif()

execute_process(
  COMMAND "${CMAKE_COMMAND}" -S "${SOURCE_DIR}" -B "${SCRATCH}/build" -G "${GENERATOR}"
          "-DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM}" "-DCMAKE_CXX_COMPILER=${CXX_COMPILER}"
          "-DTHLOGGER_FIRMWARE_DIR=${dir}" -DTHLOGGER_GUI=OFF -DTHLOGGER_BENCH=OFF
          -DBUILD_TESTING=OFF
  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
# CMake re-flows the lines of an error message.
string(REGEX REPLACE "[ \t\n]+" " " said "${out} ${err}")
string(FIND "${said}" "${expected}" at)

if(CASE STREQUAL "accepted")
  if(NOT result EQUAL 0 OR at EQUAL -1)
    message(FATAL_ERROR "usable images were refused (exit ${result}):\n${out}\n${err}")
  endif()
else()
  if(result EQUAL 0)
    message(FATAL_ERROR "configuration accepted the ${CASE} folder:\n${out}")
  endif()
  if(at EQUAL -1)
    message(FATAL_ERROR "refused without saying \"${expected}\":\n${err}")
  endif()
endif()
file(REMOVE_RECURSE "${SCRATCH}")
