# The C++ UNO SDK of the installed LibreOffice (Debian: libreoffice-dev, libreoffice-writer).
# Gives the imported target LibreOffice::UNO. The C++ headers of the office API
# (com/sun/star/...hpp) are generated with cppumaker from the installed type libraries at
# configure time, and again only when LibreOffice is updated.
#
# korvela_office links it privately: no header outside office/ includes a UNO header. Besides it,
# only the tests' office probe (tests/support/office_probe.cpp, which reaches into office/'s UNO
# side and is compiled into document_bench too) and the benchmark's own minimal UNO program
# (bench/uno_reference.cpp), the reference Korvela is measured against, link it themselves.

set(KORVELA_LO_PROGRAM_DIR "/usr/lib/libreoffice/program" CACHE PATH "LibreOffice program folder")
set(KORVELA_LO_SDK_DIR "/usr/lib/libreoffice/sdk" CACHE PATH "LibreOffice SDK folder")

find_program(KORVELA_CPPUMAKER cppumaker HINTS "${KORVELA_LO_SDK_DIR}/bin" NO_DEFAULT_PATH REQUIRED)
find_path(KORVELA_LO_INCLUDE_DIR sal/config.h
          HINTS "${KORVELA_LO_SDK_DIR}/include" /usr/include/libreoffice REQUIRED)

set(_korvela_lo_types "${KORVELA_LO_PROGRAM_DIR}/types.rdb" "${KORVELA_LO_PROGRAM_DIR}/types/offapi.rdb")
foreach(rdb IN LISTS _korvela_lo_types)
    if(NOT EXISTS "${rdb}")
        message(FATAL_ERROR "LibreOffice type library ${rdb} is missing (install libreoffice-writer)")
    endif()
endforeach()

set(KORVELA_LO_GENERATED "${CMAKE_BINARY_DIR}/uno-headers")
set(_korvela_lo_stamp "${KORVELA_LO_GENERATED}/.generated")
set(_korvela_lo_generate TRUE)
if(EXISTS "${_korvela_lo_stamp}")
    set(_korvela_lo_generate FALSE)
    foreach(rdb IN LISTS _korvela_lo_types)
        if("${rdb}" IS_NEWER_THAN "${_korvela_lo_stamp}")
            set(_korvela_lo_generate TRUE)
        endif()
    endforeach()
endif()
if(_korvela_lo_generate)
    message(STATUS "Generating the LibreOffice API headers into ${KORVELA_LO_GENERATED}")
    # -Gc rewrites only headers whose content changed, so an update rebuilds little.
    execute_process(COMMAND "${KORVELA_CPPUMAKER}" -Gc "-O${KORVELA_LO_GENERATED}" ${_korvela_lo_types}
                    RESULT_VARIABLE _rc ERROR_VARIABLE _err)
    if(NOT _rc EQUAL 0)
        message(FATAL_ERROR "cppumaker failed (${_rc}): ${_err}")
    endif()
    file(TOUCH "${_korvela_lo_stamp}")
endif()

set(_korvela_lo_libraries)
foreach(lib uno_cppuhelpergcc3 uno_cppu uno_sal uno_salhelpergcc3)
    find_library(KORVELA_LO_LIB_${lib} NAMES ${lib}
                 HINTS "${KORVELA_LO_SDK_DIR}/lib" "${KORVELA_LO_PROGRAM_DIR}" NO_DEFAULT_PATH REQUIRED)
    list(APPEND _korvela_lo_libraries "${KORVELA_LO_LIB_${lib}}")
endforeach()

add_library(LibreOffice::UNO INTERFACE IMPORTED GLOBAL)
# SYSTEM: the SDK's headers are not held to the program's warning flags.
target_include_directories(LibreOffice::UNO SYSTEM INTERFACE "${KORVELA_LO_GENERATED}" "${KORVELA_LO_INCLUDE_DIR}")
# LINUX/UNX pick the platform code of sal, CPPU_ENV the C++ bridge the headers are built for.
target_compile_definitions(LibreOffice::UNO INTERFACE LINUX UNX GCC CPPU_ENV=gcc3
                           KORVELA_LO_PROGRAM_DIR="${KORVELA_LO_PROGRAM_DIR}")
target_link_libraries(LibreOffice::UNO INTERFACE ${_korvela_lo_libraries})
# cppuhelper loads further libraries (libreglo, libunoidllo ...) that exist only in the program
# folder: find them there when linking and when running, without LD_LIBRARY_PATH.
target_link_options(LibreOffice::UNO INTERFACE
    "LINKER:-rpath-link,${KORVELA_LO_PROGRAM_DIR}" "LINKER:-rpath,${KORVELA_LO_PROGRAM_DIR}")
