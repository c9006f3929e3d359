#include "module/standard_names.hpp"

GlobalName json_name("_json");
GlobalName locale_name("_locale");
GlobalName os_name("_os");
GlobalName path_name("_path");
