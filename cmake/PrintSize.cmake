file(SIZE "${FILE}" _size)
math(EXPR _kib "${_size} / 1024")
get_filename_component(_name "${FILE}" NAME)
message(STATUS "${_name}: ${_size} bytes (${_kib} KiB)")
