// The common headers, and Qt Widgets for the targets that build windows.
#pragma once
#include "qdx_pch.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QWidget>
