# Compile settings shared by every target of the project, carried by one INTERFACE target.
add_library(tesvano_common INTERFACE)
target_compile_features(tesvano_common INTERFACE cxx_std_23)
target_compile_options(tesvano_common INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wcast-align
    -Woverloaded-virtual -Wimplicit-fallthrough)
# Views, pointers and references left dangling by a temporary, where the compiler can tell.
include(CheckCXXCompilerFlag)
foreach(_flag -Wdangling-pointer=2 -Wdangling-reference -Wdangling -Wdangling-gsl
              -Wreturn-stack-address)
    string(MAKE_C_IDENTIFIER "TESVANO_HAS${_flag}" _var)
    check_cxx_compiler_flag(${_flag} ${_var})
    if(${_var})
        target_compile_options(tesvano_common INTERFACE ${_flag})
    endif()
endforeach()
if(TESVANO_WERROR)
    target_compile_options(tesvano_common INTERFACE -Werror)
endif()
target_compile_definitions(tesvano_common INTERFACE
    QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII QT_NO_URL_CAST_FROM_STRING
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT QT_USE_QSTRINGBUILDER)

set(CMAKE_CXX_EXTENSIONS OFF)

# Collects the sources of a folder, so that adding a file needs no edit of a shared list.
function(tesvano_glob_sources out_var dir)
    file(GLOB_RECURSE _srcs CONFIGURE_DEPENDS "${dir}/*.cpp")
    set(${out_var} ${_srcs} PARENT_SCOPE)
endfunction()
