# Fails when the page DOC does not show each of FILES (a ;-list) verbatim, so
# that the hosts a reader copies from the page are the ones the tests build.
file(READ ${DOC} page)
foreach(path IN LISTS FILES)
  file(READ ${path} text)
  string(FIND "${page}" "${text}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${DOC} does not show ${path} as it is: copy the file into the page")
  endif()
endforeach()
