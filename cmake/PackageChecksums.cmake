# Run by CPack after it has installed the package's files into its staging
# directory and before it zips them: writes SHA256SUMS there, the SHA-256 of
# every file of the package, in the format of `sha256sum` with the paths as
# they appear in the zip, so that `sha256sum -c SHA256SUMS` checks an unpacked
# copy. The sums are those of the files as packaged. Its lines end in CR LF, as
# the package's other text files do, for Notepad; sha256sum takes them too.
cmake_policy(VERSION 3.25)
set(staging "${CPACK_TEMPORARY_DIRECTORY}")
if(NOT IS_DIRECTORY "${staging}")
  message(FATAL_ERROR "no staging directory for SHA256SUMS: '${staging}'")
endif()
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${staging}" "${staging}/*")
list(REMOVE_ITEM files SHA256SUMS)
list(SORT files)
set(sums "")
foreach(file ${files})
  file(SHA256 "${staging}/${file}" sum)
  string(APPEND sums "${sum}  ${file}\r\n")
endforeach()
file(WRITE "${staging}/SHA256SUMS" "${sums}")
