# Hardening of every program and shared object the project builds, included
# by the top-level list file before any target: the stack protector on
# functions with arrays or address-taken locals, position-independent
# executables, and relocations all resolved at start and then made
# read-only (full RELRO with BIND_NOW). _FORTIFY_SOURCE=2 is set in the
# top-level list file. Directories that reset their options (mpi_test/)
# build no installed program.

# Position-independent code for executables and for the static archives
# linked into them, unless a target asks for -fPIC itself.
set(torvel_pie_type "$<OR:$<STREQUAL:$<TARGET_PROPERTY:TYPE>,EXECUTABLE>,\
$<STREQUAL:$<TARGET_PROPERTY:TYPE>,STATIC_LIBRARY>>")
set(torvel_wants_pie
    "$<AND:${torvel_pie_type},$<NOT:$<BOOL:$<TARGET_PROPERTY:POSITION_INDEPENDENT_CODE>>>>")
add_compile_options(-fstack-protector-strong "$<${torvel_wants_pie}:-fPIE>")
add_link_options(LINKER:-z,relro LINKER:-z,now
                 "$<$<STREQUAL:$<TARGET_PROPERTY:TYPE>,EXECUTABLE>:-pie>")

# The hardening test reads the installed programs; their targets are known
# once the whole project has been read.
function(torvel_hardened_programs_before_tests)
  if(TARGET system_tests)
    add_dependencies(system_tests nbx_broker gt3_gahp_launcher torvel_config_val classad_eval)
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL torvel_hardened_programs_before_tests)
