# Tests of veltrane-admin: its file formats and script check on plain text,
# its commands against real database files in temporary directories, and the
# built executable itself.
veltrane_test(admin_text_test admin_text_test.cpp admin_script_check_test.cpp admin_install_test.cpp)
target_link_libraries(admin_text_test PRIVATE veltrane_admin_lib)

veltrane_test(admin_commands_test admin_commands_test.cpp admin_executable_test.cpp
  admin_lists_test.cpp)
target_link_libraries(admin_commands_test PRIVATE veltrane_admin_lib veltrane_scheduler)
target_compile_definitions(admin_commands_test PRIVATE
  VELTRANE_ADMIN_EXECUTABLE="$<TARGET_FILE:veltrane-admin>"
  VELTRANE_PROJECT_VERSION="${PROJECT_VERSION}")
add_dependencies(admin_commands_test veltrane-admin)

# Removing and retention through the tool, on the files and on a throw-away server.
veltrane_test(admin_removal_test admin_removal_test.cpp)
target_link_libraries(admin_removal_test PRIVATE veltrane_admin_lib veltrane_scheduler)
if(VELTRANE_WITH_POSTGRES)
  target_link_libraries(admin_removal_test PRIVATE veltrane_postgres_server)
  target_compile_definitions(admin_removal_test PRIVATE VELTRANE_WITH_POSTGRES)
endif()
