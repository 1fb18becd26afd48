# The updater's own version resource, embedded in the Tandor executable's ELF section
# .tandor_version, and the Windows programs with version resources that the tests read.
# Both come from the resource compiler of binutils-mingw-w64 (scripts/setup.sh installs it).

find_program(TANDOR_WINDRES x86_64-w64-mingw32-windres REQUIRED)
find_program(TANDOR_MINGW_LD x86_64-w64-mingw32-ld REQUIRED)
find_program(TANDOR_MINGW_OBJCOPY x86_64-w64-mingw32-objcopy REQUIRED)
find_program(TANDOR_CPP cpp REQUIRED)

# windres reads UTF-8 sources and runs them through the host preprocessor (the default would be
# the MinGW compiler, which the build does not need).
set(TANDOR_WINDRES_FLAGS --preprocessor=${TANDOR_CPP} -c 65001)

# "1.00.0210": minor with two digits, revision with four, as the updater has always shown them.
function(tandor_zero_pad value width result)
  string(LENGTH "${value}" length)
  while(length LESS width)
    string(PREPEND value "0")
    math(EXPR length "${length} + 1")
  endwhile()
  set(${result} "${value}" PARENT_SCOPE)
endfunction()

set(TANDOR_VERSION_MAJOR ${PROJECT_VERSION_MAJOR})
set(TANDOR_VERSION_MINOR ${PROJECT_VERSION_MINOR})
set(TANDOR_VERSION_REVISION ${PROJECT_VERSION_PATCH})
tandor_zero_pad(${TANDOR_VERSION_MINOR} 2 minorText)
tandor_zero_pad(${TANDOR_VERSION_REVISION} 4 revisionText)
set(TANDOR_VERSION_TEXT "${TANDOR_VERSION_MAJOR}.${minorText}.${revisionText}")

set(versionDir ${CMAKE_BINARY_DIR}/version)
configure_file(${CMAKE_CURRENT_LIST_DIR}/TandorVersion.rc.in ${versionDir}/TandorVersion.rc @ONLY)

add_custom_command(
  OUTPUT ${versionDir}/TandorVersion.res
  COMMAND ${TANDOR_WINDRES} ${TANDOR_WINDRES_FLAGS} -i ${versionDir}/TandorVersion.rc
          -O res -o ${versionDir}/TandorVersion.res
  DEPENDS ${versionDir}/TandorVersion.rc
  COMMENT "Compiling the updater's version resource")
add_custom_command(
  OUTPUT ${versionDir}/TandorVersion.c
  COMMAND ${CMAKE_COMMAND} -DRES=${versionDir}/TandorVersion.res -DOUT=${versionDir}/TandorVersion.c
          -P ${CMAKE_CURRENT_LIST_DIR}/ExtractVersionResource.cmake
  DEPENDS ${versionDir}/TandorVersion.res ${CMAKE_CURRENT_LIST_DIR}/ExtractVersionResource.cmake
  COMMENT "Placing the version resource in .tandor_version")

# An object library, so that the section goes into every program linking it whether or not
# anything refers to it: the updater, and test programs that read their own version.
add_library(tandor_version_resource OBJECT ${versionDir}/TandorVersion.c)
target_link_libraries(Tandor PRIVATE tandor_version_resource)

# Test fixtures: one Windows program per tests/data/version/*.rc, linked by the MinGW linker,
# plus a 32-bit copy of the first one, so both PE header forms are read.
set(fixtureSourceDir ${PROJECT_SOURCE_DIR}/tests/data/version)
set(fixtureDir ${CMAKE_BINARY_DIR}/tests/version)
file(GLOB fixtureSources CONFIGURE_DEPENDS ${fixtureSourceDir}/*.rc)
set(fixtures "")
foreach(source ${fixtureSources})
  get_filename_component(name ${source} NAME_WE)
  add_custom_command(
    OUTPUT ${fixtureDir}/${name}.exe
    COMMAND ${CMAKE_COMMAND} -E make_directory ${fixtureDir}
    COMMAND ${TANDOR_WINDRES} ${TANDOR_WINDRES_FLAGS} -i ${source} -O coff -o ${fixtureDir}/${name}.o
    COMMAND ${TANDOR_MINGW_LD} -o ${fixtureDir}/${name}.exe ${fixtureDir}/${name}.o
    DEPENDS ${source}
    COMMENT "Linking version fixture ${name}.exe")
  list(APPEND fixtures ${fixtureDir}/${name}.exe)
endforeach()
if(EXISTS ${fixtureSourceDir}/all_strings.rc)
  add_custom_command(
    OUTPUT ${fixtureDir}/all_strings32.exe
    COMMAND ${TANDOR_MINGW_OBJCOPY} -O pei-i386 ${fixtureDir}/all_strings.exe
            ${fixtureDir}/all_strings32.exe
    DEPENDS ${fixtureDir}/all_strings.exe
    COMMENT "Converting version fixture all_strings.exe to 32-bit")
  list(APPEND fixtures ${fixtureDir}/all_strings32.exe)
endif()
# The updater's own resource in ELF objects of both classes and byte orders, and as raw bytes.
set(elfFixtures ${fixtureDir}/own_version.bin ${fixtureDir}/own_version64.o
    ${fixtureDir}/own_version32.o ${fixtureDir}/own_version64be.o ${fixtureDir}/own_version32be.o)
add_custom_command(
  OUTPUT ${elfFixtures}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${fixtureDir}
  COMMAND ${CMAKE_C_COMPILER} -c ${versionDir}/TandorVersion.c -o ${fixtureDir}/own_version64.o
  COMMAND ${CMAKE_OBJCOPY} -O binary --only-section=.tandor_version ${fixtureDir}/own_version64.o
          ${fixtureDir}/own_version.bin
  COMMAND ${CMAKE_OBJCOPY} -I binary -O elf32-i386 --rename-section .data=.tandor_version
          ${fixtureDir}/own_version.bin ${fixtureDir}/own_version32.o
  COMMAND ${CMAKE_OBJCOPY} -I binary -O elf64-big --rename-section .data=.tandor_version
          ${fixtureDir}/own_version.bin ${fixtureDir}/own_version64be.o
  COMMAND ${CMAKE_OBJCOPY} -I binary -O elf32-big --rename-section .data=.tandor_version
          ${fixtureDir}/own_version.bin ${fixtureDir}/own_version32be.o
  DEPENDS ${versionDir}/TandorVersion.c
  COMMENT "Placing the updater's version resource in ELF fixtures")
list(APPEND fixtures ${elfFixtures})
add_custom_target(tandor_version_fixtures DEPENDS ${fixtures})

# The test and benchmark programs are defined later (tests/, bench/): attach the fixtures and
# the embedded resource to them once the whole tree has been read.
function(tandor_attach_version_fixtures)
  foreach(target unit_version_resource_test unit_entry_rules_test
                 integration_update_pass_inprocess_test version_bench)
    if(TARGET ${target})
      add_dependencies(${target} tandor_version_fixtures)
      target_compile_definitions(${target} PRIVATE TANDOR_VERSION_FIXTURES="${fixtureDir}")
    endif()
  endforeach()
endfunction()
cmake_language(DEFER CALL tandor_attach_version_fixtures)

# A fuzz target for the version-resource reader (clang only, not part of the normal build):
#   CC=clang CXX=clang++ cmake -B build-fuzz -DTANDOR_FUZZ=ON && ninja -C build-fuzz version_fuzz
option(TANDOR_FUZZ "Build the libFuzzer target for the version-resource reader" OFF)
if(TANDOR_FUZZ)
  add_executable(version_fuzz
    ${PROJECT_SOURCE_DIR}/tests/fuzz/version_fuzz.cpp
    ${PROJECT_SOURCE_DIR}/src/util/VersionResource.cpp
    ${PROJECT_SOURCE_DIR}/src/util/PeResource.cpp
    ${PROJECT_SOURCE_DIR}/src/util/ElfSection.cpp
    ${PROJECT_SOURCE_DIR}/src/platform/CodePage.cpp
    ${PROJECT_SOURCE_DIR}/src/text/TextCase.cpp)
  target_include_directories(version_fuzz PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_compile_options(version_fuzz PRIVATE -fsanitize=fuzzer,address,undefined ${TANDOR_WARNINGS})
  target_link_options(version_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
endif()
