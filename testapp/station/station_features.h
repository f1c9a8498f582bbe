// Which of a station's optional outputs this build has: the Prometheus
// endpoint (QUARNEX_HAVE_PROMETHEUS) and the history of runs in SQLite
// (QUARNEX_HAVE_SQLITE). CMake defines each as 1 on quarnex_runner, and so
// on what links it, where its package was found. Elsewhere (the Windows
// build, a missing package, the option parser compiled into a fuzz target
// of its own) this header makes it 0. Include it before testing either:
// each is 0 or 1, for #if and for expressions alike.
#ifndef QUARNEX_STATION_STATION_FEATURES_H_
#define QUARNEX_STATION_STATION_FEATURES_H_

#ifndef QUARNEX_HAVE_PROMETHEUS
#define QUARNEX_HAVE_PROMETHEUS 0
#endif
#ifndef QUARNEX_HAVE_SQLITE
#define QUARNEX_HAVE_SQLITE 0
#endif

#endif  // QUARNEX_STATION_STATION_FEATURES_H_
