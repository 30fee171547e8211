# korvela_library(name SOURCES files... [USES libraries...] [USES_PRIVATELY libraries...])
#
# One library per folder. Whoever links it sees this folder's headers only, named with their folder
# ("search/found_reports.h"): an include of a folder the library does not link fails to compile, so
# the build holds the layering the folders describe. USES are the libraries whose headers are
# included by the headers other folders include from this one (they are part of its interface);
# USES_PRIVATELY all else its sources need, Qt modules and outside libraries alike.
function(korvela_library name)
    cmake_parse_arguments(L "" "" "SOURCES;USES;USES_PRIVATELY" ${ARGN})
    add_library(${name} STATIC ${L_SOURCES})
    korvela_folder_headers(headers)
    target_include_directories(${name} PUBLIC "${headers}")
    target_link_libraries(${name} PUBLIC ${L_USES} PRIVATE ${L_USES_PRIVATELY})
endfunction()

# korvela_folder_headers(variable): sets variable to a folder in the build tree that holds this
# source folder alone, by a symbolic link of the folder's name, so that folder on the include path
# makes "folder/header.h" and nothing else findable.
function(korvela_folder_headers variable)
    get_filename_component(folder "${CMAKE_CURRENT_SOURCE_DIR}" NAME)
    set(headers "${PROJECT_BINARY_DIR}/headers/${folder}")
    file(MAKE_DIRECTORY "${headers}")
    file(CREATE_LINK "${CMAKE_CURRENT_SOURCE_DIR}" "${headers}/${folder}" SYMBOLIC)
    set(${variable} "${headers}" PARENT_SCOPE)
endfunction()
