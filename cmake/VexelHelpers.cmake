# Sources of one layer folder: every .cpp, minus the other platform's implementation files
# (Foo_win.cpp on POSIX systems, Foo_posix.cpp on Windows).
function(vexel_glob_sources out dir)
    file(GLOB _files CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp)
    if(WIN32)
        list(FILTER _files EXCLUDE REGEX "_posix\\.cpp$")
    else()
        list(FILTER _files EXCLUDE REGEX "_win\\.cpp$")
    endif()
    set(${out} ${_files} PARENT_SCOPE)
endfunction()

# Stops the configuration when a part's glob found no source: a moved or renamed folder must not
# drop a target silently.
function(vexel_require_sources what)
    foreach(_list ${ARGN})
        if(${_list})
            return()
        endif()
    endforeach()
    message(FATAL_ERROR "No sources found for ${what} (${ARGN})")
endfunction()
