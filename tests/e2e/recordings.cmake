# Real off-air recordings, read where the project's shared folder sits beside the source tree
# (never copied into it); skipped with the reason when that folder is absent.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME e2e_recordings
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/recordings_e2e.py ${CMAKE_BINARY_DIR}
                 ${VARNOL_SOURCE_DIR}/../shared/recordings)
set_tests_properties(e2e_recordings PROPERTIES LABELS e2e TIMEOUT 600 SKIP_RETURN_CODE 77)
