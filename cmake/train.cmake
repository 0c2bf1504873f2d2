# Runs the instrumented qrn_asm on a training set: every bundled example (as
# its top comment assembles it) and every encoding-table row that assembles
# alone, many times over. The profile it leaves steers the optimised build.
#
#   cmake -DQRN=<instrumented qrn_asm> -DSOURCE=<source tree> -DWORK=<scratch>
#         -DPROFILE=<profile directory> -DSTAMP=<file> -P train.cmake
cmake_minimum_required(VERSION 3.20)
foreach(v QRN SOURCE WORK PROFILE STAMP)
  if(NOT DEFINED ${v})
    message(FATAL_ERROR "train.cmake needs -D${v}=...")
  endif()
endforeach()

# The counts of one training run only.
file(REMOVE_RECURSE "${PROFILE}" "${WORK}")
file(MAKE_DIRECTORY "${PROFILE}" "${WORK}")

# Rows "mode | statement | bytes" of the encoding tables. Brackets and
# semicolons are masked while the text is a CMake list.
set(repeat 40)
file(GLOB tables "${SOURCE}/tests/cases/*.enc")
foreach(mode 16 32 64)
  set(rows_${mode} "")
endforeach()
foreach(table ${tables})
  file(READ "${table}" text)
  string(REPLACE "[" "<qrn-lb>" text "${text}")
  string(REPLACE "]" "<qrn-rb>" text "${text}")
  string(REPLACE ";" "<qrn-sc>" text "${text}")
  string(REPLACE "\r" "" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  foreach(line IN LISTS lines)
    if(NOT line MATCHES "^(16|32|64) *\\| *([^|]*[^| ]) *\\| *(.*)$")
      continue()
    endif()
    set(mode "${CMAKE_MATCH_1}")
    set(statement "${CMAKE_MATCH_2}")
    # Errors, several statements and labels stay out: the program must
    # assemble as a whole.
    if(CMAKE_MATCH_3 MATCHES "^error" OR statement MATCHES "\\\\n" OR statement MATCHES ":")
      continue()
    endif()
    string(APPEND rows_${mode} "${statement}\n")
  endforeach()
endforeach()
foreach(mode 16 32 64)
  string(REPLACE "<qrn-lb>" "[" body "${rows_${mode}}")
  string(REPLACE "<qrn-rb>" "]" body "${body}")
  string(REPLACE "<qrn-sc>" ";" body "${body}")
  string(REPEAT "${body}" ${repeat} body)
  file(WRITE "${WORK}/table${mode}.asm" "section \"c\" class_code\n.use${mode}\n${body}")
  execute_process(COMMAND "${QRN}" -q -binary "${WORK}/table${mode}.asm" "${WORK}/table${mode}.bin"
                  RESULT_VARIABLE code OUTPUT_QUIET ERROR_QUIET)
  if(NOT code EQUAL 0)
    message(STATUS "training: table${mode}.asm did not assemble (${code})")
  endif()
endforeach()

# The examples, with the options their top comments give.
file(GLOB examples "${SOURCE}/examples/*.asm")
foreach(example ${examples})
  get_filename_component(name "${example}" NAME)
  file(STRINGS "${example}" commands REGEX "build/qrn_asm .* examples/${name} ")
  list(FILTER commands EXCLUDE REGEX "^$")
  if(NOT commands)
    continue()
  endif()
  list(GET commands 0 command)
  string(REGEX REPLACE ".*build/qrn_asm (.*) examples/${name} .*" "\\1" options "${command}")
  separate_arguments(options UNIX_COMMAND "${options}")
  foreach(round RANGE 1 ${repeat})
    execute_process(COMMAND "${QRN}" ${options} "examples/${name}" "${WORK}/${name}.out"
                    WORKING_DIRECTORY "${SOURCE}" RESULT_VARIABLE code OUTPUT_QUIET ERROR_QUIET)
  endforeach()
  if(NOT code EQUAL 0)
    message(STATUS "training: ${name} did not assemble (${code})")
  endif()
endforeach()
file(WRITE "${STAMP}" "")
