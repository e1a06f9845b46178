// SPDX-License-Identifier: GPL-3.0-or-later
// Hour and minute as the stations broadcast them, in binary-coded decimal: each field is a
// tens digit and a units digit, and every bit of the code carries one weight of one digit
// (units 1 2 4 8, tens 10 20 40). The bits are summed digit by digit, so that a reading can be
// checked for being a time at all: a units digit of 10..15, a minute of 60..79 or an hour of
// 24..39 cannot be sent, and only comes from bits misread in a way the station's parity does
// not catch (two flipped bits in one group, or a station without a check bit). Such a minute
// is dropped like one whose parity fails; otherwise a hour such as 41 would be wrapped by the
// clock step into a plausible time of day and written minute after minute.
#pragma once

struct BcdTime {
  int hour_tens = 0, hour_units = 0;
  int minute_tens = 0, minute_units = 0;

  // One bit read as 1, with its weight in the field.
  void AddHour(int weight) { Add(hour_tens, hour_units, weight); }
  void AddMinute(int weight) { Add(minute_tens, minute_units, weight); }

  int Hour() const { return hour_tens * 10 + hour_units; }
  int Minute() const { return minute_tens * 10 + minute_units; }

  // Both units digits decimal, hour 0..23, minute 0..59, as broadcast.
  bool IsTimeOfDay() const { return hour_units <= 9 && minute_units <= 9 && Hour() <= 23 && Minute() <= 59; }

 private:
  static void Add(int& tens, int& units, int weight) {
    if (weight >= 10)
      tens += weight / 10;
    else
      units += weight;
  }
};
