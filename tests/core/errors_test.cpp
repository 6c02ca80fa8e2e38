#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "core/errors.h"
#include "support/test_support.h"

TEST(Errors, MessagesAndCategoriesFollowTheCode) {
  g_error = 0;
  EXPECT_STREQ(error_message(), "");
  EXPECT_STREQ(error_category_message(), "");
  g_error = 10;
  EXPECT_STREQ(error_message(), "Erreur interne (objet).\nContactez votre developpeur prefere!");
  g_error = 14;
  EXPECT_STREQ(error_message(), "Fichier invalide");
  EXPECT_STREQ(error_category_message(), "Fichier invalide");
  g_error = 3;
  EXPECT_STREQ(error_category_message(), "Format inconnu");
  g_error = 12;
  EXPECT_STREQ(error_category_message(), "Erreur interne");
  g_error = 16;
  EXPECT_STREQ(error_message(), "Cas non traite");
  EXPECT_STREQ(error_category_message(), "Erreur interne");
  g_error = 11;
  EXPECT_STREQ(error_category_message(), "Erreur systeme");
  g_error = 0;
}
