// What a request to the built-in web server asks for, read from the path of
// its request line. Browsers and scripts write the same file many ways
// ("//admin/x", "/./admin/x", "/ADMIN/x", "%61dmin", backslashes), so the
// path is decoded and normalised before anything is decided on it: the admin
// check and the file name see the same segments. Pure; any thread.
#pragma once

#include <string>
#include <string_view>

namespace brindlex {

struct WebTarget {
  // A ".." segment in any spelling, a path not starting with '/', or a
  // decoded byte that no file name may hold: answered as not found, whether
  // or not a file of that name exists.
  bool refused = false;
  // The first segment is "admin" (any case): the administrators' area.
  bool admin = false;
  // The file under the web root: the segments joined by '/', never empty;
  // a path that names a folder (empty, or ending with a separator) names its
  // "index.html".
  std::string file;
  // The file is in the web root itself (its pages are filled as templates).
  bool atRoot = false;
  // What follows the first '.' of the file's last segment (case kept).
  std::string extension;
  // The text after '?', "null" when there is none or it is empty.
  std::string query;
};

// `path` is the request's path: from the first '/' to the end of the request
// target, query included.
WebTarget ParseWebTarget(std::string_view path);

}  // namespace brindlex
