# Debian's mupdf is a static library only: the target parlivo_mupdf carries it with its own
# dependencies, named by hand (mupdf uses gumbo too, named again after it, as a file, so that the
# linker sees it late).
if(TARGET parlivo_mupdf)
    return()
endif()
pkg_check_modules(MUPDF_DEPS REQUIRED IMPORTED_TARGET freetype2 harfbuzz libopenjp2 zlib)
find_library(MUPDF_LIBRARY mupdf REQUIRED)
find_library(MUPDF_THIRD_LIBRARY mupdf-third REQUIRED)
find_library(MUJS_LIBRARY mujs REQUIRED)
find_library(JBIG2DEC_LIBRARY jbig2dec REQUIRED)
find_library(JPEG_LIBRARY jpeg REQUIRED)
find_library(GUMBO_FOR_MUPDF gumbo REQUIRED)
add_library(parlivo_mupdf INTERFACE)
target_link_libraries(parlivo_mupdf INTERFACE ${MUPDF_LIBRARY} ${MUPDF_THIRD_LIBRARY}
                                              ${MUJS_LIBRARY} ${JBIG2DEC_LIBRARY} ${JPEG_LIBRARY}
                                              ${GUMBO_FOR_MUPDF} PkgConfig::MUPDF_DEPS m)
