# Writes uprops.dat: ICU's Unicode property data, as the ICU on this machine
# knows it. Our ICU compiles its core property data into its common library
# and keeps no separate data item for it, so the data is taken the way ICU
# itself offers it: ICU's icuexportdata writes one section per property
# (ranges of code points and their values), and uprops.dat is its index
# followed by every section in the index's order.
#
# cmake -DEXPORTER=<icuexportdata> -DWORK_DIR=<scratch folder> -DOUTPUT=<uprops.dat>
#       -P ExportUnicodeProperties.cmake
#
# The file is written beside its final name and renamed into place, so a
# failed run never leaves a half-written uprops.dat.

foreach(required EXPORTER WORK_DIR OUTPUT)
  if(NOT ${required})
    message(FATAL_ERROR "ExportUnicodeProperties: ${required} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
execute_process(
  COMMAND ${EXPORTER} -q -m uprops --all --index -d ${WORK_DIR}
  RESULT_VARIABLE status
  ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "icuexportdata failed (${status}): ${errors}")
endif()

set(index ${WORK_DIR}/_index.toml)
if(NOT EXISTS ${index})
  message(FATAL_ERROR "icuexportdata wrote no index")
endif()
file(STRINGS ${index} entries REGEX "filename=\"[^\"]+\"")
list(LENGTH entries count)
if(count EQUAL 0)
  message(FATAL_ERROR "icuexportdata's index names no property")
endif()

set(partial ${OUTPUT}.partial)
file(READ ${index} content)
file(WRITE ${partial} "${content}")
foreach(entry IN LISTS entries)
  string(REGEX REPLACE ".*filename=\"([^\"]+)\".*" "\\1" name "${entry}")
  if(NOT EXISTS ${WORK_DIR}/${name})
    file(REMOVE ${partial})
    message(FATAL_ERROR "icuexportdata's index names ${name}, which it did not write")
  endif()
  file(READ ${WORK_DIR}/${name} content)
  file(APPEND ${partial} "${content}")
endforeach()
file(RENAME ${partial} ${OUTPUT})
file(REMOVE_RECURSE ${WORK_DIR})
