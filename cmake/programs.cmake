# Helpers shared by the two programs' build files.

# Draws icon NAME with resources/make_icons.py into the build tree and sets VAR to its folder,
# which the program's .rc file then finds on its include path.
function(generate_icon NAME VAR)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/icons/${NAME}.ico)
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/icons
    COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/resources/make_icons.py ${NAME} ${out}
    DEPENDS ${PROJECT_SOURCE_DIR}/resources/make_icons.py
    COMMENT "Drawing ${NAME}.ico")
  set(${VAR} ${out} PARENT_SCOPE)
endfunction()

# A GUI program as shipped: stripped, with the code it never calls dropped. The programs throw
# nothing; without exception tables the static C++ runtime's unwinding support stays out. No link
# time in the header, so that the same sources always give the same file.
function(ship_program TARGET)
  set_target_properties(${TARGET} PROPERTIES WIN32_EXECUTABLE ON)
  target_compile_options(${TARGET} PRIVATE -fno-exceptions)
  target_link_options(${TARGET} PRIVATE -s -Wl,--gc-sections -Wl,--no-insert-timestamp)
endfunction()
