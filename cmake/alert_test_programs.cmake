# Programs the Windows unit tests start as alert programs: a Windows process
# can wait only for a Windows program, so under Wine the tests need one of
# their own. Built beside sentory_tests, where the tests look for it; the
# Linux tests write shell scripts instead. hold_mapping holds a named file
# mapping for the end-to-end tests of sentory.exe. Include after
# sentory_tests is defined.
if(WIN32 AND TARGET sentory_tests)
  add_executable(record_args ${CMAKE_SOURCE_DIR}/tests/programs/record_args.cc)
  add_executable(hold_mapping ${CMAKE_SOURCE_DIR}/tests/programs/hold_mapping.cc)
  add_dependencies(sentory_tests record_args hold_mapping)
endif()
