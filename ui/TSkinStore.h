#pragma once

#include <QColor>
#include <QList>
#include <QPalette>
#include <QString>

// One stored skin: the colours every window takes while it is applied.
struct TSkin {
    QString name;
    QPalette palette;
    QColor workspace; // background of the multiple-document area
};

// The store of the programs' skins: three colour schemes of our own design, in the order of the
// stored skin index: 0 blue ("Azul"), 1 grey ("Cinza"), 2 green ("Verde").
class TSkinStore {
public:
    TSkinStore();

    int Count() const { return int(m_skins.size()); }
    // The skin at `index`; nullptr outside 0..Count()-1.
    const TSkin* Skin(int index) const;

private:
    QList<TSkin> m_skins;
};
