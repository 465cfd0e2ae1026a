# Run by CPack twice (CPACK_PRE_BUILD_SCRIPTS and CPACK_POST_BUILD_SCRIPTS).
# The package is unsigned, so a user's only way to know that the bytes are
# ours is a SHA-256 compared against what we publish:
# - before the zip is made, SHA256SUMS.txt goes into the package folder,
#   listing every other file in it, hashed after CPack has stripped the
#   program, which is what the user unpacks;
# - after, kes_bat-<version>.zip.sha256 goes beside the zip, listing the zip
#   itself and then every file of the package under the folder it unpacks
#   to, so that one published file checks the download before it is opened
#   and everything taken out of it.
# Lines are as sha256sum writes and reads them (lower-case hex, two blanks,
# "/" between folders), sorted by bytes, CR LF like the package's other
# texts; `sha256sum -c` reads them as they are.

# The package folder's files, but SHA256SUMS.txt, as lines under `prefix`.
function(kes_sha256_lines folder prefix out)
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${folder}" "${folder}/*")
  list(REMOVE_ITEM files SHA256SUMS.txt)
  list(SORT files)
  set(lines "")
  foreach(file IN LISTS files)
    file(SHA256 "${folder}/${file}" hash)
    string(APPEND lines "${hash}  ${prefix}${file}\r\n")
  endforeach()
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()

if(NOT CPACK_PACKAGE_FILES)
  kes_sha256_lines("${CPACK_TEMPORARY_DIRECTORY}" "" lines)
  file(WRITE "${CPACK_TEMPORARY_DIRECTORY}/SHA256SUMS.txt" "${lines}")
  return()
endif()

# CPack names the zip where it made it; it copies it unchanged to
# CPACK_PACKAGE_DIRECTORY afterwards, where the list belongs.
kes_sha256_lines("${CPACK_TEMPORARY_DIRECTORY}" "${CPACK_PACKAGE_FILE_NAME}/" lines)
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(name "${package}" NAME)
  file(SHA256 "${package}" hash)
  file(WRITE "${CPACK_PACKAGE_DIRECTORY}/${name}.sha256" "${hash}  ${name}\r\n${lines}")
endforeach()
