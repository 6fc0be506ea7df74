# How our targets are declared: warnings, the headers a library shows its users, and test programs.

# Warnings on our own code only, in each compiler's own terms; call this on every target we write.
function(umbra_warnings target)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
      -Wno-sign-conversion $<$<BOOL:${UMBRA_WERROR}>:-Werror>)
    # GCC 12 reports -Wrestrict inside std::string's own code at -O3 (GCC bug 105329), wherever a
    # literal is added to a temporary string; nothing of ours can be at fault there.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
      target_compile_options(${target} PRIVATE -Wno-restrict)
    endif()
  elseif(MSVC)
    target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${UMBRA_WERROR}>:/WX>)
  endif()
endfunction()

# umbra_headers(<target> <folder> [RECURSE] [ONLY <header>...])
# The library's users, and the library itself, include its headers by their path from the source
# root ("engine/Workspace.h"). Each library gets an include folder of its own that holds links to
# its headers only (those of <folder>, and of its subfolders with RECURSE; with ONLY, the headers
# named, for a library that is one piece of a folder), instead of the whole source root: a file that includes a header of a library its target does not link fails to build,
# so the layers stay as the links between the libraries say.
function(umbra_headers target folder)
  cmake_parse_arguments(ARG "RECURSE" "" "ONLY" ${ARGN})
  set(stage ${CMAKE_BINARY_DIR}/include/${target})
  if(ARG_ONLY)
    list(TRANSFORM ARG_ONLY PREPEND ${folder}/ OUTPUT_VARIABLE headers)
  elseif(ARG_RECURSE)
    file(GLOB_RECURSE headers CONFIGURE_DEPENDS RELATIVE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/${folder}/*.h)
  else()
    file(GLOB headers CONFIGURE_DEPENDS RELATIVE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/${folder}/*.h)
  endif()
  # Made afresh at every configure, so a header that was moved or removed leaves no link behind.
  file(REMOVE_RECURSE ${stage})
  foreach(header ${headers})
    get_filename_component(dir ${stage}/${header} DIRECTORY)
    file(MAKE_DIRECTORY ${dir})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${header} ${stage}/${header} SYMBOLIC)
  endforeach()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${stage})
  else()
    target_include_directories(${target} PUBLIC ${stage})
  endif()
endfunction()

# umbradisc_add_test(<program> SOURCES <file>... [LIBRARIES <target>...] [TEST <ctest name>] [QT] [MOC]
#                    [ARGS <argument>...] [DEPENDS <target>...] [ENVIRONMENT <VAR=value>...])
# A test program and its CTest entry, run with the tests' environment (UMBRA_TEST_ENV) and any more
# variables given. QT: a Qt Test program with widgets (moc runs on it; under wine it is told its
# platform on the command line, since wine does not pass QT_QPA_PLATFORM on). MOC: moc runs on it,
# nothing more. DEPENDS: programs the test runs.
function(umbradisc_add_test program)
  cmake_parse_arguments(ARG "QT;MOC" "TEST" "SOURCES;LIBRARIES;ARGS;DEPENDS;ENVIRONMENT" ${ARGN})
  if(NOT ARG_TEST)
    set(ARG_TEST ${program})
  endif()
  add_executable(${program} ${ARG_SOURCES})
  target_link_libraries(${program} PRIVATE ${ARG_LIBRARIES})
  umbra_warnings(${program})
  set(arguments ${ARG_ARGS})
  if(ARG_QT)
    set_target_properties(${program} PROPERTIES AUTOMOC ON)
    target_link_libraries(${program} PRIVATE Qt6::Test)
    list(APPEND arguments ${UMBRA_QT_TEST_ARGS})
  elseif(ARG_MOC)
    set_target_properties(${program} PROPERTIES AUTOMOC ON)
  endif()
  if(ARG_DEPENDS)
    add_dependencies(${program} ${ARG_DEPENDS})
  endif()
  add_test(NAME ${ARG_TEST} COMMAND ${program} ${arguments})
  set(environment ${UMBRA_TEST_ENV} ${ARG_ENVIRONMENT})
  set_tests_properties(${ARG_TEST} PROPERTIES ENVIRONMENT "${environment}")
endfunction()
