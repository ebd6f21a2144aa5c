# Builds the synthesizer a second time for x86-64-v3 (AVX2, FMA) and checks
# that it renders the same bytes as the default build: the first 10 s of the
# soundtrack, mastered. A third render runs the default build with AVX2 and
# FMA hidden from glibc, whose maths functions pick their code by CPU at run
# time: an older CPU must not change the bytes either.
#
# cmake -DSOURCE_DIR=<repository> -DWORK_DIR=<scratch dir> -DSYNTH=<default build's tessary-synth>
#       -DCXX=<compiler> -DGENERATOR=<generator> -DBUILD_TYPE=<type> -P same_bytes.cmake
foreach(var SOURCE_DIR WORK_DIR SYNTH CXX GENERATOR BUILD_TYPE)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "same_bytes.cmake: ${var} is not set")
  endif()
endforeach()

# Skip (status 77) where this machine cannot run x86-64-v3 code; the
# dynamic loader knows.
execute_process(COMMAND /lib64/ld-linux-x86-64.so.2 --help OUTPUT_VARIABLE loader ERROR_QUIET RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT loader MATCHES "x86-64-v3 \\(supported")
  message("same_bytes.cmake: this machine does not run x86-64-v3 code; skipped")
  cmake_language(EXIT 77)
endif()

set(side ${WORK_DIR}/build-x86-64-v3)
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/synth/x86_level -B ${side} -G ${GENERATOR}
          -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_BUILD_TYPE=${BUILD_TYPE} -DCMAKE_CXX_FLAGS=-march=x86-64-v3
          -DTESSARY_SOURCE_DIR=${SOURCE_DIR}
  RESULT_VARIABLE rc OUTPUT_VARIABLE log ERROR_VARIABLE log)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "configuring the x86-64-v3 build failed:\n${log}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${side} -j2 --target tessary-synth
                RESULT_VARIABLE rc OUTPUT_VARIABLE log ERROR_VARIABLE log)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "building the x86-64-v3 synth failed:\n${log}")
endif()

foreach(build default v3 no-fma)
  set(program ${SYNTH})
  unset(ENV{GLIBC_TUNABLES})
  if(build STREQUAL "v3")
    set(program ${side}/synth/tessary-synth)
  elseif(build STREQUAL "no-fma")
    set(ENV{GLIBC_TUNABLES} "glibc.cpu.hwcaps=-AVX2,-FMA,-AVX512F")
  endif()
  execute_process(COMMAND ${program} --quiet --length 10 -o ${WORK_DIR}/${build}.wav
                  RESULT_VARIABLE rc OUTPUT_VARIABLE log ERROR_VARIABLE log)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${program} failed (${rc}):\n${log}")
  endif()
endforeach()
unset(ENV{GLIBC_TUNABLES})

file(SIZE ${WORK_DIR}/default.wav size)
if(size LESS 1920000)
  message(FATAL_ERROR "the 10 s render is only ${size} bytes")
endif()
foreach(build v3 no-fma)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK_DIR}/default.wav ${WORK_DIR}/${build}.wav
                  RESULT_VARIABLE differ)
  if(NOT differ EQUAL 0)
    execute_process(COMMAND cmp -l ${WORK_DIR}/default.wav ${WORK_DIR}/${build}.wav COMMAND wc -l
                    OUTPUT_VARIABLE count ERROR_QUIET)
    string(STRIP "${count}" count)
    message(FATAL_ERROR "the default and the ${build} render differ (${count} bytes)")
  endif()
endforeach()
message("same bytes from the default build, the x86-64-v3 build and the default build without FMA (${size} bytes)")
