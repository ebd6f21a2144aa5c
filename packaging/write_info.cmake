# Writes the release archive's info file into the install tree being made.
# The run-time libraries are the Debian packages dpkg-shlibdeps finds for the
# program (as for the Debian package), plus what the program opens or runs by
# name: libGL through SDL, and pw-play.
#
# Expects TESSARY_VERSION, TESSARY_INFO_TEMPLATE and TESSARY_INFO_PROGRAM (the
# built program), and runs inside an install (CMAKE_INSTALL_PREFIX, DESTDIR).

set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(program "${TESSARY_INFO_PROGRAM}")

find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
if(NOT DPKG_SHLIBDEPS)
  message(FATAL_ERROR "The archive's info file lists the run-time libraries with dpkg-shlibdeps "
                      "(Debian package dpkg-dev), which is not installed.")
endif()

# dpkg-shlibdeps wants to run in a source package; an empty control file will do.
set(scratch "$ENV{TMPDIR}")
if(NOT scratch)
  set(scratch /tmp)
endif()
# Named after the install tree: archives made side by side must not share it.
string(SHA1 suffix "${root}")
string(SUBSTRING "${suffix}" 0 16 suffix)
set(scratch "${scratch}/tessary-shlibdeps-${suffix}")
file(WRITE "${scratch}/debian/control" "")
execute_process(
  COMMAND "${DPKG_SHLIBDEPS}" -O "-e${program}"
  WORKING_DIRECTORY "${scratch}"
  OUTPUT_VARIABLE shlibs
  ERROR_VARIABLE shlibs_errors
  RESULT_VARIABLE status)
file(REMOVE_RECURSE "${scratch}")
if(NOT status EQUAL 0 OR NOT shlibs MATCHES "shlibs:Depends=([^\n]*)")
  message(FATAL_ERROR "dpkg-shlibdeps found no dependencies for ${program}:\n${shlibs_errors}")
endif()

string(REPLACE ", " ";" packages "${CMAKE_MATCH_1}")
list(APPEND packages libgl1 pipewire-bin)
list(SORT packages)
set(TESSARY_RUNTIME_PACKAGES "")
set(TESSARY_RUNTIME_PACKAGE_NAMES "")
foreach(package IN LISTS packages)
  string(APPEND TESSARY_RUNTIME_PACKAGES "        ${package}\n")
  string(REGEX REPLACE " .*" "" name "${package}")
  string(APPEND TESSARY_RUNTIME_PACKAGE_NAMES " ${name}")
endforeach()
string(STRIP "${TESSARY_RUNTIME_PACKAGE_NAMES}" TESSARY_RUNTIME_PACKAGE_NAMES)

configure_file("${TESSARY_INFO_TEMPLATE}" "${root}/tessary.txt" @ONLY)
message(STATUS "Installing: ${root}/tessary.txt")
