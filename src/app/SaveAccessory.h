#pragma once

#include <QWidget>

class ClampingValidator;
class OutputSettings;
class QComboBox;
class QLineEdit;
class ZTStepper;

// What the save dialog carries under its file list: the format pop-up, which is the output
// format itself (choosing TIFF here changes the main window's format too), and the JPEG
// quality for this one save, which the settings keep as they were.
class SaveAccessory : public QWidget {
    Q_OBJECT
public:
    // Shows the current format and quality.
    explicit SaveAccessory(OutputSettings& settings, QWidget* parent = nullptr);

    QComboBox* formatPopUp() const { return _formatPop; }
    QLineEdit* qualityField() const { return _qualityTF; }
    ZTStepper* qualityStepper() const { return _qualityStepper; }

    // The quality field's value, mended to its range: the quality the save writes with.
    int quality() const;

private:
    void _selectFormat();
    void _commitQuality();

    OutputSettings& _settings;
    QComboBox* _formatPop = nullptr;
    QLineEdit* _qualityTF = nullptr;
    ClampingValidator* _qualityValidator = nullptr;
    ZTStepper* _qualityStepper = nullptr;
    int _initialQuality = 0;
};
