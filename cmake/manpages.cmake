# Man pages, generated at build time so that nothing is written twice:
#   VrenLabelAPI.3    from the public header (cmake/header2md.py, then pandoc)
#   <program>.1       from each program's --help and --version (help2man)
# Without pandoc, help2man or Python the pages are skipped with a message.
find_program(PANDOC_EXECUTABLE pandoc)
find_program(HELP2MAN_EXECUTABLE help2man)
find_package(Python3 COMPONENTS Interpreter QUIET)

set(VREN_MAN_DIR ${PROJECT_BINARY_DIR}/man)
set(VREN_MAN_PAGES "")

if(PANDOC_EXECUTABLE AND Python3_Interpreter_FOUND)
  set(header ${PROJECT_SOURCE_DIR}/include/VrenLabelAPI.h)
  add_custom_command(OUTPUT ${VREN_MAN_DIR}/VrenLabelAPI.3
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VREN_MAN_DIR}
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/header2md.py ${header} ${PROJECT_VERSION}
            > ${VREN_MAN_DIR}/VrenLabelAPI.3.md
    COMMAND ${PANDOC_EXECUTABLE} --standalone --to man ${VREN_MAN_DIR}/VrenLabelAPI.3.md
            --output ${VREN_MAN_DIR}/VrenLabelAPI.3
    DEPENDS ${header} ${PROJECT_SOURCE_DIR}/cmake/header2md.py
    COMMENT "Man page VrenLabelAPI(3) from the header"
    VERBATIM)
  list(APPEND VREN_MAN_PAGES ${VREN_MAN_DIR}/VrenLabelAPI.3)
  install(FILES ${VREN_MAN_DIR}/VrenLabelAPI.3 DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT development)
else()
  message(STATUS "VrenLabelAPI(3) man page skipped: pandoc or Python 3 not found")
endif()

# vren_program_manpage(TARGET NAME DESCRIPTION COMPONENT): NAME.1 from the
# program's own --help and --version.
function(vren_program_manpage target name description component)
  if(NOT TARGET ${target})
    return()
  endif()
  if(NOT HELP2MAN_EXECUTABLE)
    message(STATUS "${name}(1) man page skipped: help2man not found")
    return()
  endif()
  add_custom_command(OUTPUT ${VREN_MAN_DIR}/${name}.1
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VREN_MAN_DIR}
    COMMAND ${HELP2MAN_EXECUTABLE} --no-info --no-discard-stderr --section 1
            --name ${description} --output ${VREN_MAN_DIR}/${name}.1 $<TARGET_FILE:${target}>
    DEPENDS ${target}
    COMMENT "Man page ${name}(1) from its --help"
    VERBATIM)
  set_property(GLOBAL APPEND PROPERTY VREN_PROGRAM_MAN_PAGES ${VREN_MAN_DIR}/${name}.1)
  install(FILES ${VREN_MAN_DIR}/${name}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endfunction()

vren_program_manpage(vren-vprinter vren-vprinter "virtual VREN label printer for tests and demonstrations" tools)
vren_program_manpage(render-tool vren-render "draw saved label printer commands as PNG pictures" tools)
vren_program_manpage(vren-printer-app vren-printer-app "IPP Everywhere printer application for VREN label printers"
                     printer-app)

get_property(program_pages GLOBAL PROPERTY VREN_PROGRAM_MAN_PAGES)
add_custom_target(manpages ALL DEPENDS ${VREN_MAN_PAGES} ${program_pages})
