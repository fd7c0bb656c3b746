# cmake -DXZ=xz -DIN=ip.dat.xz -DOUT=ip.dat -P unpack.cmake
# Unpacks to a temporary name first so an interrupted build leaves no
# truncated table behind.
execute_process(COMMAND ${XZ} --decompress --stdout ${IN}
                OUTPUT_FILE ${OUT}.part
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(REMOVE ${OUT}.part)
  message(FATAL_ERROR "cannot unpack ${IN}: ${result}")
endif()
file(RENAME ${OUT}.part ${OUT})
