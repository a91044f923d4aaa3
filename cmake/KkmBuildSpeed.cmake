# Precompiled headers: parsing Qt's, GoogleTest's and the standard headers
# is a large part of compiling a file here, and test.sh builds three trees.
# Each group of targets that compiles with the same definitions shares one
# header, built by the first target of the group that asks; GCC refuses a
# header built with other definitions (-Winvalid-pch, an error under
# KKM_WERROR), so a target joins only the group its flags match:
#   core    QtCore (QtGui adds nothing to it)
#   gtest   QtCore and GoogleTest
#   widgets Qt Widgets
#   uitest  Qt Widgets and QtTest; tests/ui only, as QtTest's definitions
#           name the target's build folder
# Nothing may rely on what the header brings in: every file still includes
# what it uses (-DKKM_PCH=OFF -DKKM_UNITY=OFF builds each file on its own).
option(KKM_PCH "Build with precompiled headers" ON)

set(KKM_PCH_STD
  <algorithm> <array> <atomic> <chrono> <cstdint> <cstdio> <cstring>
  <functional> <map> <memory> <mutex> <optional> <string> <string_view>
  <thread> <utility> <vector>)
set(KKM_PCH_CORE ${KKM_PCH_STD}
  <QByteArray> <QCoreApplication> <QDir> <QFile> <QFileInfo>
  <QLoggingCategory> <QObject> <QString> <QStringList> <QTemporaryDir>
  <QTimer>)
set(KKM_PCH_GTEST ${KKM_PCH_CORE} <gtest/gtest.h>)
set(KKM_PCH_WIDGETS ${KKM_PCH_CORE}
  <QApplication> <QCheckBox> <QComboBox> <QDialog> <QFileDialog>
  <QGridLayout> <QGroupBox> <QHBoxLayout> <QHeaderView> <QImage>
  <QKeyEvent> <QLabel> <QLineEdit> <QMessageBox> <QMouseEvent> <QPainter>
  <QPushButton> <QStackedWidget> <QTabWidget> <QTableView> <QTableWidget>
  <QTextEdit> <QToolButton> <QVBoxLayout> <QWidget>)
set(KKM_PCH_UITEST ${KKM_PCH_WIDGETS} <QTest>)

# kkm_pch(<target> <group>): the first target of a group builds the header,
# the others reuse it.
function(kkm_pch target group)
  if(NOT KKM_PCH)
    return()
  endif()
  get_property(donor GLOBAL PROPERTY KKM_PCH_DONOR_${group})
  if(donor)
    target_precompile_headers(${target} REUSE_FROM ${donor})
  else()
    string(TOUPPER ${group} list)
    if(NOT DEFINED KKM_PCH_${list})
      message(FATAL_ERROR "kkm_pch: no header group '${group}'")
    endif()
    target_precompile_headers(${target} PRIVATE ${KKM_PCH_${list}})
    set_property(GLOBAL PROPERTY KKM_PCH_DONOR_${group} ${target})
  endif()
endfunction()

# Unity builds: the libraries and multi-file tests compile as a few large
# files, so that the headers and the inline code they share are compiled
# once per batch instead of once per file; about half the compile time of
# those targets. Files that clash with others of their target (two helpers
# of one name in unnamed namespaces) are compiled on their own: name them
# after SKIP.
option(KKM_UNITY "Build the libraries and multi-file tests as unity builds" ON)

function(kkm_unity target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SKIP")
  if(NOT KKM_UNITY)
    return()
  endif()
  set_target_properties(${target} PROPERTIES UNITY_BUILD ON)
  if(arg_SKIP)
    set_source_files_properties(${arg_SKIP} TARGET_DIRECTORY ${target}
      PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
  endif()
endfunction()
