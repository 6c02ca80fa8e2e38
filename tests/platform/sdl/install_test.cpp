// `cmake --install` lays the program out as a Linux desktop expects: bin/korvela pointing at
// the program beside its pictures, the launcher with the image types, and the icon.
#include <gtest/gtest.h>

#include "support/test_support.h"

TEST(Install, TheProgramItsPicturesTheLauncherAndTheIconLandWhereTheDesktopLooks) {
  const std::string binary = KORVELA_BINARY;
  const std::string build = binary.substr(0, binary.rfind('/'));
  const std::string prefix = test_temp_dir() + "/prefix";
  int status = 0;
  const std::string said = command_output("cmake --install '" + build + "' --prefix '" + prefix + "' 2>&1", &status);
  ASSERT_EQ(status, 0) << said;
  EXPECT_EQ(run_command("cd '" + prefix + "' && test -L bin/korvela && test -x lib/korvela/korvela && test -f "
                        "lib/korvela/korvela.png && test -f share/icons/hicolor/64x64/apps/korvela.png"), 0);
  const std::string version = command_output("'" + prefix + "/bin/korvela' --version", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(version.rfind("korvela ", 0), 0u) << version;

  const std::string desktop = read_text(prefix + "/share/applications/korvela.desktop");
  EXPECT_NE(desktop.find("Exec=korvela %F\n"), std::string::npos);
  EXPECT_NE(desktop.find("Icon=korvela\n"), std::string::npos);
  for (const char* type : {"image/jpeg;", "image/png;", "image/gif;", "image/tiff;", "image/bmp;",
                           "image/x-portable-pixmap;", "image/x-xpixmap;", "image/x-pcx;", "image/x-sun-raster;",
                           "image/x-tga;"})
    EXPECT_NE(desktop.find(type), std::string::npos) << type;
}
