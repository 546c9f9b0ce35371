# Cross-compiles the module for ARMv4T (ARM state, soft float) and links it
# at its preferred base; the image writer then turns the ELF into VELMARK.dll.

find_program(ARM_CXX arm-none-eabi-g++)
find_program(ARM_LD arm-none-eabi-ld)
if(NOT ARM_CXX OR NOT ARM_LD)
    message(FATAL_ERROR "arm-none-eabi-g++ / arm-none-eabi-ld not found: run scripts/install-deps "
                        "(Debian packages gcc-arm-none-eabi binutils-arm-none-eabi)")
endif()

set(MODULE_ARCH_FLAGS -march=armv4t -marm -mfloat-abi=soft)
execute_process(COMMAND ${ARM_CXX} ${MODULE_ARCH_FLAGS} -print-libgcc-file-name
                OUTPUT_VARIABLE ARM_LIBGCC OUTPUT_STRIP_TRAILING_WHITESPACE)

# -fno-short-enums and -fshort-wchar: Windows CE's enums are 4 bytes and its
# wchar_t is a UTF-16 unit. Loop-to-memset rewriting is off because the
# module links against nothing but libgcc.
# The frame flags keep every function unwindable from the image's exception
# table: the prolog stays whole at the function's start (no shrink-wrapping,
# no prolog scheduling) and each epilog stays one contiguous sequence.
set(MODULE_FRAME_FLAGS -fno-shrink-wrap -mno-sched-prolog -fno-schedule-insns2)
set(MODULE_CXX_FLAGS ${MODULE_ARCH_FLAGS} ${MODULE_FRAME_FLAGS} -std=c++17 -O2 -ffreestanding -fno-exceptions -fno-rtti
    -fno-asynchronous-unwind-tables -fno-unwind-tables -fno-threadsafe-statics
    -fno-use-cxa-atexit -nostdlib -fno-short-enums -fshort-wchar -fno-common
    -fno-tree-loop-distribute-patterns -fno-strict-aliasing -ffunction-sections -fdata-sections
    -Wall -Wextra -Werror -g0
    -I${CMAKE_SOURCE_DIR} -I${CMAKE_BINARY_DIR})

set(MODULE_DIRS module/frame module/language module/banner module/audio module/shell)
set(MODULE_SOURCES)
foreach(dir ${MODULE_DIRS})
    file(GLOB found CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.cpp)
    list(APPEND MODULE_SOURCES ${found})
endforeach()

set(MODULE_OUT ${CMAKE_BINARY_DIR}/module)
set(FORWARDERS_ASM ${CMAKE_BINARY_DIR}/module/exports/forwarders.S)
set(EXPORT_ROOTS ${CMAKE_BINARY_DIR}/module/exports/roots.ld)
set(COREDLL_SLOTS_H ${CMAKE_BINARY_DIR}/module/exports/coredllSlots.h)

add_custom_command(
    OUTPUT ${FORWARDERS_ASM} ${EXPORT_ROOTS} ${COREDLL_SLOTS_H}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/module/exports
    COMMAND $<TARGET_FILE:exportgen> ${VELMARK_TABLE} ${FORWARDERS_ASM} ${EXPORT_ROOTS} ${COREDLL_SLOTS_H}
    DEPENDS exportgen ${VELMARK_TABLE}
    COMMENT "Generating forwarders and import slots from the export table")

set(MODULE_OBJECTS)
foreach(source ${MODULE_SOURCES} ${FORWARDERS_ASM})
    file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR} ${source})
    string(REGEX REPLACE "^(\\.\\./)+|^module/" "" rel "${rel}")
    set(object ${MODULE_OUT}/${rel}.o)
    get_filename_component(objectDir ${object} DIRECTORY)
    add_custom_command(
        OUTPUT ${object}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${objectDir}
        COMMAND ${ARM_CXX} ${MODULE_CXX_FLAGS} -MD -MF ${object}.d -c ${source} -o ${object}
        DEPENDS ${source} ${COREDLL_SLOTS_H}
        DEPFILE ${object}.d
        COMMENT "Cross-compiling ${rel}")
    list(APPEND MODULE_OBJECTS ${object})
endforeach()

set(VELMARK_ELF ${MODULE_OUT}/velmark.elf)
set(MODULE_LINKER_SCRIPT ${CMAKE_SOURCE_DIR}/module/frame/module.ld)
# Sections nothing reaches from an export or the entry routine are dropped.
add_custom_command(
    OUTPUT ${VELMARK_ELF}
    COMMAND ${ARM_LD} -T ${MODULE_LINKER_SCRIPT} -q --no-undefined --build-id=none --strip-debug
            --no-warn-rwx-segments --gc-sections -o ${VELMARK_ELF} ${EXPORT_ROOTS} ${MODULE_OBJECTS} ${ARM_LIBGCC}
    DEPENDS ${MODULE_OBJECTS} ${MODULE_LINKER_SCRIPT} ${EXPORT_ROOTS}
    COMMENT "Linking the module")
add_custom_target(velmark_elf DEPENDS ${VELMARK_ELF})

set(VELMARK_DLL ${CMAKE_BINARY_DIR}/VELMARK.dll)
add_custom_command(
    OUTPUT ${VELMARK_DLL}
    COMMAND $<TARGET_FILE:imagewriter> ${VELMARK_ELF} ${VELMARK_TABLE} ${VELMARK_DLL}
    DEPENDS imagewriter ${VELMARK_ELF} ${VELMARK_TABLE}
    COMMENT "Writing VELMARK.dll")
# Every build checks the image it wrote against the table; the stamp
# exists only once the check has passed, so a failed check runs again.
# VELMARK_VERBOSE_CHECK=ON lists the image's exception table as it is checked.
option(VELMARK_VERBOSE_CHECK "List VELMARK.dll's exception table when the build checks it" OFF)
set(IMAGECHECK_FLAGS)
if(VELMARK_VERBOSE_CHECK)
    set(IMAGECHECK_FLAGS --verbose)
endif()
set(VELMARK_DLL_CHECKS ${CMAKE_BINARY_DIR}/VELMARK.dll.checked)
add_custom_command(
    OUTPUT ${VELMARK_DLL_CHECKS}
    COMMAND $<TARGET_FILE:imagecheck> ${IMAGECHECK_FLAGS} ${VELMARK_DLL} ${VELMARK_TABLE}
    COMMAND ${CMAKE_COMMAND} -E touch ${VELMARK_DLL_CHECKS}
    DEPENDS imagecheck ${VELMARK_DLL} ${VELMARK_TABLE}
    COMMENT "Checking VELMARK.dll against the export table")
add_custom_target(velmark_dll ALL DEPENDS ${VELMARK_DLL} ${VELMARK_DLL_CHECKS})

# The module's pure rules, built for the host: the tests and the velmark
# command use the same code the device runs.
add_library(module_rules STATIC
    ${CMAKE_SOURCE_DIR}/module/language/languageModuleName.cpp
    ${CMAKE_SOURCE_DIR}/module/banner/bannerLayout.cpp
    ${CMAKE_SOURCE_DIR}/module/banner/bannerFile.cpp
    ${CMAKE_SOURCE_DIR}/module/audio/duplicateSamples.cpp)
# As in the module, byte records are read a halfword or a word at a time.
target_compile_options(module_rules PRIVATE -fno-strict-aliasing)
