#pragma once

#include <QCheckBox>

namespace kestrel {

// A check box whose value 2 (greyed, Qt::PartiallyChecked) is set only by the
// program: a click sets a cleared box and clears any other, so a greyed box
// clicked by the user is cleared, as a set one is.
class OptionCheckBox : public QCheckBox {
    Q_OBJECT

public:
    using QCheckBox::QCheckBox;

protected:
    void nextCheckState() override {
        setCheckState(checkState() == Qt::Unchecked ? Qt::Checked : Qt::Unchecked);
    }
};

} // namespace kestrel
