# Outside libraries, found through pkg-config (Debian's -dev packages) and
# CMake's own modules. Each becomes an imported target named dep::<name>.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

pkg_check_modules(jsoncpp REQUIRED IMPORTED_TARGET jsoncpp)
pkg_check_modules(tinyxml2 REQUIRED IMPORTED_TARGET tinyxml2)
pkg_check_modules(libcurl REQUIRED IMPORTED_TARGET libcurl)
pkg_check_modules(libavcodec REQUIRED IMPORTED_TARGET libavcodec)
pkg_check_modules(libavformat REQUIRED IMPORTED_TARGET libavformat)
pkg_check_modules(libavutil REQUIRED IMPORTED_TARGET libavutil)
pkg_check_modules(libswscale REQUIRED IMPORTED_TARGET libswscale)
pkg_check_modules(cairo REQUIRED IMPORTED_TARGET cairo)
pkg_check_modules(pangocairo REQUIRED IMPORTED_TARGET pangocairo)
pkg_check_modules(pangoft2 REQUIRED IMPORTED_TARGET pangoft2)
pkg_check_modules(x11 REQUIRED IMPORTED_TARGET x11)
pkg_check_modules(inih REQUIRED IMPORTED_TARGET inih)
# The X11 desktop backend talks XCB (XInput 2 for the global key hook);
# XTEST only drives input in its test.
pkg_check_modules(xcb REQUIRED IMPORTED_TARGET xcb)
pkg_check_modules(xcb-shm REQUIRED IMPORTED_TARGET xcb-shm)
pkg_check_modules(xcb-randr REQUIRED IMPORTED_TARGET xcb-randr)
pkg_check_modules(xcb-xinput REQUIRED IMPORTED_TARGET xcb-xinput)
pkg_check_modules(xcb-xtest REQUIRED IMPORTED_TARGET xcb-xtest)
# Sound goes through a PulseAudio server (PipeWire serves the protocol too);
# the simple API only records and plays in tests.
pkg_check_modules(libpulse REQUIRED IMPORTED_TARGET libpulse)
pkg_check_modules(libpulse-simple REQUIRED IMPORTED_TARGET libpulse-simple)
find_package(Boost 1.74 REQUIRED)
find_package(GTest REQUIRED)

foreach(name jsoncpp tinyxml2 libcurl libavcodec libavformat libavutil libswscale
             cairo pangocairo pangoft2 x11 inih xcb xcb-shm xcb-randr xcb-xinput xcb-xtest
             libpulse libpulse-simple)
  add_library(dep::${name} ALIAS PkgConfig::${name})
endforeach()

# Boost.Asio/Beast are header-only here; they need the thread library.
add_library(dep_boost INTERFACE)
target_link_libraries(dep_boost INTERFACE Boost::boost Threads::Threads)
target_compile_definitions(dep_boost INTERFACE BOOST_ASIO_NO_DEPRECATED BOOST_BEAST_USE_STD_STRING_VIEW)
add_library(dep::boost ALIAS dep_boost)
