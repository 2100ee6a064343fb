#pragma once

#include <functional>

#include <QFont>
#include <QRect>
#include <QString>
#include <QWidget>

class QAbstractItemModel;
class QLabel;
class QPushButton;
class QTableView;

// The controls of the windows as the layouts give them: named as in the design, placed
// in their container, in Arial.

QFont Arial(qreal points, bool bold);

template <class Control>
Control* Place(QWidget* container, const char* name, QRect geometry, const QFont& font) {
  auto* control = new Control(container);
  control->setObjectName(QString::fromLatin1(name));
  control->setGeometry(geometry);
  control->setFont(font);
  return control;
}

// A push button: Arial 11.25 pt bold, named for screen readers by its caption.
QPushButton* PlacePushButton(QWidget* container, const char* name, const QString& caption,
                             QRect geometry);

// A label that shows a value as plain text, wrapped, selectable. A screen reader reads the
// value itself as the label's name; `role` ("Summary") is its description. (An accessible
// name would stand in place of the text, and the value would never be heard.)
QLabel* ValueLabel(QWidget* window, const char* name, const QString& role);
// A table of `model`'s rows that may be very many: whole rows chosen, rows of one height
// (the view never asks every row for its size), no row numbers; Tab goes on to the next
// control while the arrows move within the table.
QTableView* LongTable(QWidget* window, const char* name, const QString& accessibleName,
                      QAbstractItemModel* model);
// Space (alone) on `list` does `act` instead of what the list would do: ticks a row from
// any of its columns, where Qt's list ticks only from the column holding the box.
void OnSpace(QWidget* list, std::function<void()> act);
