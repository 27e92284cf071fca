# The payloads of PivoraSetup.exe: the host tool that makes them, the demo payload, and the
# packed, scrambled resources 207 (installer archive) and 203 (wmfdist.exe) of type 1001, with
# resource 209 of the same type: the CRC-32 of each plain payload.
#
# Inputs (cache variables; empty means the demo built from demo/):
#   PIVORA_INSTALLER_DIR  folder whose files become the archive; it must hold setup.exe and
#                         no file in a subfolder
#   PIVORA_WMFDIST        the redistributable program
# Outputs for the rest of the build:
#   PIVORA_PAYLOADTOOL    path of the host payloadtool (built by the target payloadtool)
#   PIVORA_PAYLOAD_RC_DIR folder of the generated payload.rc
#   PIVORA_PAYLOAD_ARCHIVE, PIVORA_PAYLOAD_WMFDIST  the plain payloads as embedded
#   pivora_embed_payloads(<target>)  embeds and verifies them in <target>

include(ExternalProject)

# --- The host tool -------------------------------------------------------------------------
# Built with the host compiler in a build of its own: the cross toolchain must not touch it.
find_program(PIVORA_HOST_CXX NAMES g++ c++ clang++ DOC "Host C++ compiler for tools/payloadtool")
if(NOT PIVORA_HOST_CXX)
  message(FATAL_ERROR "No host C++ compiler (g++) found to build tools/payloadtool.")
endif()
set(PIVORA_PAYLOADTOOL ${CMAKE_BINARY_DIR}/host/payloadtool/payloadtool)
ExternalProject_Add(payloadtool
  SOURCE_DIR ${PROJECT_SOURCE_DIR}/tools/payloadtool
  PREFIX ${CMAKE_BINARY_DIR}/host/payloadtool-ep
  BINARY_DIR ${CMAKE_BINARY_DIR}/host/payloadtool
  CMAKE_ARGS -DCMAKE_CXX_COMPILER=${PIVORA_HOST_CXX} -DCMAKE_BUILD_TYPE=Release
             -DCMAKE_TOOLCHAIN_FILE=
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${PIVORA_PAYLOADTOOL})

# --- The demo payload ----------------------------------------------------------------------
add_subdirectory(${PROJECT_SOURCE_DIR}/demo ${CMAKE_BINARY_DIR}/demo)

set(PIVORA_PAYLOAD_DIR ${CMAKE_BINARY_DIR}/payload)
set(PIVORA_PAYLOAD_RC_DIR ${PIVORA_PAYLOAD_DIR})
set(pivora_demo_installer_dir ${PIVORA_PAYLOAD_DIR}/demo-installer)
set(pivora_demo_wmfdist ${CMAKE_BINARY_DIR}/demo/bin/wmfdist.exe)
file(MAKE_DIRECTORY ${PIVORA_PAYLOAD_DIR})

set(PIVORA_INSTALLER_DIR "${pivora_demo_installer_dir}" CACHE PATH
    "Folder packed into the payload archive (setup.exe at its top); empty: the demo installer")
set(PIVORA_WMFDIST "${pivora_demo_wmfdist}" CACHE FILEPATH
    "Redistributable embedded as wmfdist.exe; empty: the demo wmfdist.exe")

# --- The installer folder ------------------------------------------------------------------
if(PIVORA_INSTALLER_DIR STREQUAL "" OR PIVORA_INSTALLER_DIR STREQUAL pivora_demo_installer_dir)
  # The demo: its setup.exe and the sample files of demo/files, staged afresh whenever one of
  # them changes (so a removed sample file leaves the archive too).
  set(pivora_installer_dir ${pivora_demo_installer_dir})
  set(pivora_installer_stamp ${PIVORA_PAYLOAD_DIR}/demo-installer.stamp)
  file(GLOB_RECURSE pivora_demo_files CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/demo/files/*)
  add_custom_command(OUTPUT ${pivora_installer_stamp}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${pivora_installer_dir}
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_SOURCE_DIR}/demo/files ${pivora_installer_dir}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:pivora_demo_setup> ${pivora_installer_dir}/setup.exe
    COMMAND ${CMAKE_COMMAND} -E touch ${pivora_installer_stamp}
    DEPENDS pivora_demo_setup ${pivora_demo_files}
    COMMENT "Staging the demo installer payload"
    VERBATIM)
  set(pivora_installer_depends ${pivora_installer_stamp})
  set(pivora_installer_files "(demo) ${pivora_demo_files}")
else()
  get_filename_component(pivora_installer_dir "${PIVORA_INSTALLER_DIR}" ABSOLUTE BASE_DIR ${PROJECT_SOURCE_DIR})
  if(NOT IS_DIRECTORY "${pivora_installer_dir}")
    message(FATAL_ERROR "PIVORA_INSTALLER_DIR: ${pivora_installer_dir} is not a folder.")
  endif()
  if(NOT EXISTS "${pivora_installer_dir}/setup.exe")
    message(FATAL_ERROR "PIVORA_INSTALLER_DIR: ${pivora_installer_dir} has no setup.exe at its top.")
  endif()
  # Every file of the folder is an input: a changed file repacks through its time stamp, an
  # added or removed one through the re-run glob and the input list below.
  file(GLOB_RECURSE pivora_installer_depends CONFIGURE_DEPENDS LIST_DIRECTORIES false
       "${pivora_installer_dir}/*")
  set(pivora_installer_files "${pivora_installer_depends}")
  # The setup extracts into its work directory and makes no folders there: a file in a
  # subfolder cannot be extracted, and every run of such a setup would end with its "setup file
  # may be damaged" message. No such setup is built (payloadtool pack refuses the folder too).
  file(GLOB_RECURSE pivora_nested RELATIVE "${pivora_installer_dir}" LIST_DIRECTORIES false
       "${pivora_installer_dir}/*/*")
  if(pivora_nested)
    list(LENGTH pivora_nested pivora_nested_count)
    list(JOIN pivora_nested "\n  " pivora_nested_lines)
    message(FATAL_ERROR "PIVORA_INSTALLER_DIR: ${pivora_installer_dir} has "
            "${pivora_nested_count} file(s) in subfolders. PivoraSetup.exe extracts the installer "
            "into its work folder and makes no folders there, so these files cannot be extracted "
            "and every run would end with its \"setup file may be damaged\" message. Keep the "
            "installer's files at the top of the folder:\n  ${pivora_nested_lines}")
  endif()
endif()

# --- The redistributable -------------------------------------------------------------------
if(PIVORA_WMFDIST STREQUAL "" OR PIVORA_WMFDIST STREQUAL pivora_demo_wmfdist)
  set(pivora_wmfdist $<TARGET_FILE:pivora_demo_wmfdist>)
  set(pivora_wmfdist_depends pivora_demo_wmfdist)
else()
  get_filename_component(pivora_wmfdist "${PIVORA_WMFDIST}" ABSOLUTE BASE_DIR ${PROJECT_SOURCE_DIR})
  if(NOT EXISTS "${pivora_wmfdist}" OR IS_DIRECTORY "${pivora_wmfdist}")
    message(FATAL_ERROR "PIVORA_WMFDIST: ${pivora_wmfdist} is not a file.")
  endif()
  set(pivora_wmfdist_depends ${pivora_wmfdist})
endif()

# The choice of inputs as a file that changes only when the choice does: switching to other
# payloads (even older files) repacks and rescrambles.
set(pivora_payload_inputs ${PIVORA_PAYLOAD_DIR}/payload-inputs.txt)
file(CONFIGURE OUTPUT ${pivora_payload_inputs} CONTENT
"installer: ${pivora_installer_dir}
files: ${pivora_installer_files}
wmfdist: ${PIVORA_WMFDIST}
" @ONLY)

# --- Pack, scramble, embed -----------------------------------------------------------------
set(PIVORA_PAYLOAD_ARCHIVE ${PIVORA_PAYLOAD_DIR}/PivoraSetup_IS.bin)
set(PIVORA_PAYLOAD_WMFDIST ${pivora_wmfdist})
set(pivora_archive_scrambled ${PIVORA_PAYLOAD_DIR}/PivoraSetup_IS.scrambled)
set(pivora_wmfdist_scrambled ${PIVORA_PAYLOAD_DIR}/wmfdist.scrambled)
set(pivora_checksums ${PIVORA_PAYLOAD_DIR}/checksums.bin)

add_custom_command(OUTPUT ${PIVORA_PAYLOAD_ARCHIVE}
  COMMAND ${PIVORA_PAYLOADTOOL} pack ${pivora_installer_dir} ${PIVORA_PAYLOAD_ARCHIVE}
  DEPENDS payloadtool ${PIVORA_PAYLOADTOOL} ${pivora_payload_inputs} ${pivora_installer_depends}
  COMMENT "Packing the installer payload from ${pivora_installer_dir}"
  VERBATIM)
add_custom_command(OUTPUT ${pivora_archive_scrambled}
  COMMAND ${PIVORA_PAYLOADTOOL} scramble ${PIVORA_PAYLOAD_ARCHIVE} ${pivora_archive_scrambled}
  DEPENDS payloadtool ${PIVORA_PAYLOADTOOL} ${PIVORA_PAYLOAD_ARCHIVE}
  COMMENT "Scrambling the installer payload"
  VERBATIM)
add_custom_command(OUTPUT ${pivora_wmfdist_scrambled}
  COMMAND ${PIVORA_PAYLOADTOOL} scramble ${pivora_wmfdist} ${pivora_wmfdist_scrambled}
  DEPENDS payloadtool ${PIVORA_PAYLOADTOOL} ${pivora_payload_inputs} ${pivora_wmfdist_depends}
  COMMENT "Scrambling the redistributable payload"
  VERBATIM)
# Whenever the payloads change, the build tells what they need in the temporary folder.
add_custom_command(OUTPUT ${pivora_checksums}
  COMMAND ${PIVORA_PAYLOADTOOL} needs ${PIVORA_PAYLOAD_ARCHIVE} ${pivora_wmfdist}
  COMMAND ${PIVORA_PAYLOADTOOL} checksum ${PIVORA_PAYLOAD_ARCHIVE} ${pivora_wmfdist} ${pivora_checksums}
  DEPENDS payloadtool ${PIVORA_PAYLOADTOOL} ${PIVORA_PAYLOAD_ARCHIVE} ${pivora_payload_inputs}
          ${pivora_wmfdist_depends}
  COMMENT "Checksumming the payloads"
  VERBATIM)
add_custom_target(pivora_payloads ALL
  DEPENDS ${pivora_archive_scrambled} ${pivora_wmfdist_scrambled} ${pivora_checksums})

# windres reads the script as UTF-8 and takes forward slashes; quotes and backslashes in the
# build folder's path are escaped for its string syntax.
function(pivora_rc_string out path)
  string(REPLACE "\\" "\\\\" path "${path}")
  string(REPLACE "\"" "\\\"" path "${path}")
  set(${out} "\"${path}\"" PARENT_SCOPE)
endfunction()
pivora_rc_string(pivora_archive_rc ${pivora_archive_scrambled})
pivora_rc_string(pivora_wmfdist_rc ${pivora_wmfdist_scrambled})
pivora_rc_string(pivora_checksums_rc ${pivora_checksums})
file(CONFIGURE OUTPUT ${PIVORA_PAYLOAD_RC_DIR}/payload.rc CONTENT
"// Generated by cmake/Payload.cmake: the scrambled payloads and their checksums, type 1001.
207 1001 @pivora_archive_rc@
203 1001 @pivora_wmfdist_rc@
209 1001 @pivora_checksums_rc@
" @ONLY)

# pivora_embed_payloads(<target>): the target's resource script embeds payload.rc; its object
# is rebuilt whenever a scrambled payload changes, and after linking the embedded resources are
# read back, unscrambled and compared with the plain payloads, and the checksums with theirs. A
# mismatch fails the build and the executable is deleted, so it cannot pass for a good one on
# the next build.
function(pivora_embed_payloads target)
  add_dependencies(${target} pivora_payloads)
  get_target_property(sources ${target} SOURCES)
  foreach(source ${sources})
    if(source MATCHES "\\.rc$")
      set_property(SOURCE ${source} APPEND PROPERTY OBJECT_DEPENDS
                   ${pivora_archive_scrambled} ${pivora_wmfdist_scrambled}
                   ${pivora_checksums} ${PIVORA_PAYLOAD_RC_DIR}/payload.rc)
    endif()
  endforeach()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${PIVORA_PAYLOADTOOL} verify $<TARGET_FILE:${target}> ${PIVORA_PAYLOAD_ARCHIVE}
            ${PIVORA_PAYLOAD_WMFDIST}
    COMMENT "Verifying the payloads embedded in ${target}"
    VERBATIM)
endfunction()
