#include "core/errors.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>

int32_t g_error = 0;

namespace {

const char* const kMessages[17] = {
    "",
    "Pas assez de memoire",
    "Impossible d'acceder au fichier",
    "Format inconnu",
    "Erreur d'ouverture du port COM",
    "Pas de communication",
    "Erreur lors de la conversion des coordonnees",
    "Erreur lors du chargement",
    "Affichage impossible",
    "Erreur lors de l'initialisation",
    "Erreur interne (objet).\nContactez votre developpeur prefere!",
    "Erreur du systeme d'exploitation",
    "Erreur interne (valeur).\nContactez votre developpeur prefere!",
    "Probleme geographique",
    "Fichier invalide",
    "Parametres incorrects",
    "Cas non traite",
};

const char* const kCategories[11] = {
    "",
    "Probleme memoire",
    "Fichier invalide",
    "Format inconnu",
    "Communication impossible",
    "Erreur interne",
    "Erreur de chargement",
    "Erreur d'affichage",
    "Erreur d'initialisation",
    "Erreur systeme",
    "Erreur applicative",
};

const uint8_t kCategoryOfCode[17] = {0, 1, 2, 3, 4, 4, 5, 6, 7, 8, 5, 9, 5, 10, 2, 10, 5};

// Large enough for any working directory the platform reports plus "/zz_TAG.log".
char g_log_path[4096 + 64];

bool code_in_range(int32_t code) { return code >= 0 && code <= 16; }

}  // namespace

const char* error_message_for(int32_t code) { return code_in_range(code) ? kMessages[code] : ""; }

const char* error_message() { return error_message_for(g_error); }

const char* error_category_message() {
  return code_in_range(g_error) ? kCategories[kCategoryOfCode[g_error]] : "";
}

namespace {

// Where programs keep their logs when their own folder is not theirs to write (an installed
// program): $XDG_STATE_HOME/korvela, by default ~/.local/state/korvela. Empty when neither
// variable names a folder.
std::string log_state_dir() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return std::string(state) + "/korvela";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return std::string(home) + "/.local/state/korvela";
  return std::string();
}

}  // namespace

void log_set_path(const char* tag) {
  char cwd[4096];
  if (getcwd(cwd, sizeof cwd) == nullptr) std::exit(-1);
  std::string dir = cwd;
  if (access(cwd, W_OK) != 0 && !log_state_dir().empty()) dir = log_state_dir();
  std::snprintf(g_log_path, sizeof g_log_path, "%s/zz_%s.log", dir.c_str(), tag);
}

const char* log_path() { return g_log_path; }

void log_write(const char* text) {
  if (g_log_path[0] == '\0') return;
  FILE* fp = std::fopen(g_log_path, "a");
  if (fp == nullptr) {  // the state folder is made on the first entry that needs it
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(g_log_path).parent_path(), ignored);
    fp = std::fopen(g_log_path, "a");
  }
  if (fp == nullptr) return;
  std::time_t now = std::time(nullptr);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  std::fprintf(fp, "%02d/%02d:%02d-------------------------\n", local.tm_mday, local.tm_mon + 1,
               local.tm_hour);
  std::fprintf(fp, "%s\n", text);
  std::fclose(fp);
}

void log_printf(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  log_write(text);
}
