include(CMakeFindDependencyMacro)
find_dependency(fmt)
find_dependency(Threads)
include(${CMAKE_CURRENT_LIST_DIR}/NorvoVTapClientTargets.cmake)
