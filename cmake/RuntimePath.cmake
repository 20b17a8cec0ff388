# vestrix_runtime_path(<out_var> <path>): a path in the build tree as a program
# of this build sees it at run time. Under Wine that is through drive Z:.
function(vestrix_runtime_path out path)
  if(CMAKE_CROSSCOMPILING AND WIN32)
    set(path "Z:${path}")
  endif()
  set(${out} "${path}" PARENT_SCOPE)
endfunction()
