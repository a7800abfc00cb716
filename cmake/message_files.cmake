# Message files for the tests, built with mingw-w64's message compiler,
# resource compiler and linker from tests/messages/*.mc: each gives a 64-bit
# DLL with Unicode entries and, converted, a 32-bit one; rules.mc also gives
# both with ANSI entries. A tests/messages/NAME.rc beside NAME.mc replaces the
# one the message compiler writes. The Linux build also builds the peer
# program, which formats their messages with the real FormatMessageA under
# Wine. Tests find the files in SENTORY_MESSAGE_FILES and skip without them.
# A fuzzing build puts them, and the shared registry export where it is
# found, into corpus/ as seeds of the fuzz targets.
if(NOT SENTORY_TESTS AND NOT SENTORY_FUZZ)
  return()
endif()
set(mingw x86_64-w64-mingw32)
find_program(SENTORY_WINDMC ${mingw}-windmc)
find_program(SENTORY_WINDRES ${mingw}-windres)
find_program(SENTORY_MINGW_GCC NAMES ${mingw}-gcc-posix ${mingw}-gcc)
find_program(SENTORY_MINGW_GXX NAMES ${mingw}-g++-posix ${mingw}-g++)
find_program(SENTORY_MINGW_OBJCOPY ${mingw}-objcopy)
if(NOT SENTORY_WINDMC OR NOT SENTORY_WINDRES OR NOT SENTORY_MINGW_GCC
   OR NOT SENTORY_MINGW_OBJCOPY)
  message(STATUS "mingw-w64 not found: the message file tests will skip")
  return()
endif()

set(message_dir ${CMAKE_BINARY_DIR}/message_files)
set(message_src ${CMAKE_SOURCE_DIR}/tests/messages)
set(message_outputs)

# Builds NAME64.dll and NAME32.dll from SOURCE.mc, with windmc's FLAGS.
function(sentory_message_file name source flags)
  set(work ${message_dir}/${name})
  file(MAKE_DIRECTORY ${work})
  set(rc ${work}/${source}.rc)
  if(EXISTS ${message_src}/${source}.rc)
    set(rc ${message_src}/${source}.rc)
  endif()
  add_custom_command(
    OUTPUT ${message_dir}/${name}64.dll ${message_dir}/${name}32.dll
    COMMAND ${SENTORY_WINDMC} ${flags} -b -r ${work} -h ${work}
            ${message_src}/${source}.mc
    COMMAND ${SENTORY_WINDRES} -I ${work} ${rc} -O coff -o ${work}/res.o
    COMMAND ${SENTORY_MINGW_GCC} -shared -nostdlib -s -Wl,-e,0
            -o ${message_dir}/${name}64.dll ${work}/res.o
    COMMAND ${SENTORY_MINGW_OBJCOPY} -O pei-i386 ${message_dir}/${name}64.dll
            ${message_dir}/${name}32.dll
    DEPENDS ${message_src}/${source}.mc
    WORKING_DIRECTORY ${work}
    VERBATIM)
  set(message_outputs ${message_outputs} ${message_dir}/${name}64.dll
      PARENT_SCOPE)
endfunction()

file(MAKE_DIRECTORY ${message_dir})
sentory_message_file(rules rules "")
sentory_message_file(rules_ansi rules "-A")
sentory_message_file(neutral_first neutral_first "")
sentory_message_file(english_second english_second "")
sentory_message_file(first_present first_present "")

if(NOT WIN32 AND SENTORY_MINGW_GXX)
  add_custom_command(
    OUTPUT ${message_dir}/format_peer.exe
    COMMAND ${SENTORY_MINGW_GXX} -std=c++17 -O2 -Wall -Wextra -Werror -static
            -o ${message_dir}/format_peer.exe ${message_src}/format_peer.cc
    DEPENDS ${message_src}/format_peer.cc
    VERBATIM)
  list(APPEND message_outputs ${message_dir}/format_peer.exe)
endif()

add_custom_target(message_files ALL DEPENDS ${message_outputs})

if(SENTORY_FUZZ)
  set(seeds ${CMAKE_BINARY_DIR}/corpus/message_table_fuzz)
  add_custom_command(TARGET message_files POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${seeds}
    COMMAND ${CMAKE_COMMAND} -E copy ${message_dir}/rules64.dll
            ${message_dir}/rules_ansi32.dll ${message_dir}/first_present64.dll
            ${seeds}
    VERBATIM)
  foreach(up .. ../..)
    set(export ${CMAKE_SOURCE_DIR}/${up}/shared/testdata/reg/EventLog.reg)
    if(EXISTS ${export})
      # Its first lines: the whole export makes every run slow.
      file(READ ${export} head LIMIT 8192)
      file(WRITE ${CMAKE_BINARY_DIR}/corpus/reg_file_fuzz/EventLog-head.reg
           "${head}")
      break()
    endif()
  endforeach()
endif()
foreach(target sentory_tests sentory_e2e_tests)
  if(TARGET ${target})
    add_dependencies(${target} message_files)
    target_compile_definitions(${target}
                               PRIVATE SENTORY_MESSAGE_FILES="${message_dir}")
  endif()
endforeach()
