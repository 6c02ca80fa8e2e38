#include <gtest/gtest.h>

#include "core/errors.h"
#include "support/test_support.h"

TEST(Errors, MessagesAndCategoriesFollowTheCode) {
  const struct {
    int32_t code;
    const char* message;  // nullptr: not checked here
    const char* category;
  } cases[] = {
      {0, "", ""},
      {10, "Erreur interne (objet).\nContactez votre developpeur prefere!", "Erreur interne"},
      {14, "Fichier invalide", "Fichier invalide"},
      {3, nullptr, "Format inconnu"},
      {12, nullptr, "Erreur interne"},
      {16, "Cas non traite", "Erreur interne"},
      {11, nullptr, "Erreur systeme"},
  };
  for (const auto& c : cases) {
    g_error = c.code;
    if (c.message != nullptr) {
      EXPECT_STREQ(error_message(), c.message) << c.code;
    }
    EXPECT_STREQ(error_category_message(), c.category) << c.code;
  }
  g_error = 0;
}
