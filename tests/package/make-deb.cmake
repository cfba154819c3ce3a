# Makes the Debian package from a build tree and unpacks it into a root of its own, for the
# tests that look at the package and play the game installed from it.
#   cmake -DCPACK=<cpack> -DBUILD_DIR=<build tree> -DOUT=<folder> -P make-deb.cmake
# Leaves <folder>/deb/mojitan_*.deb and <folder>/root/usr/...
foreach(var CPACK BUILD_DIR OUT)
    if(NOT ${var})
        message(FATAL_ERROR "${var} is not set")
    endif()
endforeach()

file(REMOVE_RECURSE ${OUT})
execute_process(COMMAND ${CPACK} -G DEB -B ${OUT}/deb --config ${BUILD_DIR}/CPackConfig.cmake
                RESULT_VARIABLE failed OUTPUT_VARIABLE log ERROR_VARIABLE log)
if(failed)
    message(FATAL_ERROR "cpack failed:\n${log}")
endif()
file(GLOB debs ${OUT}/deb/*.deb)
list(LENGTH debs count)
if(NOT count EQUAL 1)
    message(FATAL_ERROR "expected one package, found: ${debs}")
endif()
execute_process(COMMAND dpkg-deb -x ${debs} ${OUT}/root RESULT_VARIABLE failed ERROR_VARIABLE log)
if(failed)
    message(FATAL_ERROR "dpkg-deb -x failed:\n${log}")
endif()
message(STATUS "unpacked ${debs} into ${OUT}/root")
