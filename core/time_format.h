// Times and durations as short fixed-width texts for logs and status lines.
// Every function returns a static buffer that the next call of the SAME
// function overwrites; copy the text if it must outlive that call. Not
// thread-safe.
#ifndef TORVEL_CORE_TIME_FORMAT_H_
#define TORVEL_CORE_TIME_FORMAT_H_

#include <time.h>

// Local time as "M/D  HH:MM" ("%2d/%-2d %02d:%02d"); "    ???    " for a
// negative time. Static buffer.
char *format_date(time_t date);

// Local time as "MM/DD/YYYY HH:MM" ("%2d/%02d/%-4d %02d:%02d"); "    ???    "
// for a negative time. Static buffer.
char *format_date_year(time_t date);

// A duration as "DDD+HH:MM:SS" ("%3d+%02d:%02d:%02d"); "[?????]" when
// negative. Static buffer.
char *format_time(int tot_secs);

// A duration as "DDD+HH:MM", seconds dropped; "[?????]" when negative.
// Static buffer.
char *format_time_nosecs(int tot_secs);

#endif  // TORVEL_CORE_TIME_FORMAT_H_
