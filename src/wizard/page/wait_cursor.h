#pragma once
// The wait cursor over the whole application while a page does something slow (connecting,
// listing a workbook), restored on every way out.
#include <QApplication>
#include <QCursor>

class wait_cursor {
 public:
  wait_cursor() { QApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
  ~wait_cursor() { QApplication::restoreOverrideCursor(); }
  wait_cursor(const wait_cursor&) = delete;
  wait_cursor& operator=(const wait_cursor&) = delete;
};
