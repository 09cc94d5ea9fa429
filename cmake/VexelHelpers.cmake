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
