#pragma once

#include <QString>
#include <QWidget>

class QFont;

namespace quillon {

class MeasuringNoiseDialog;
class QuillonEngine;
class SettingsStore;
class SharedValues;

// What the application hands the pages it makes (QuillonApp's page list); everything here
// outlives them. Window thread.
struct PageContext
{
    QuillonEngine &engine;
    SettingsStore &store;             // the "Setup" group
    SharedValues &shared;             // the values several pages share
    MeasuringNoiseDialog &waitDialog; // the one "Measuring Noise" dialog of modal readings
    const QFont &resultFont;          // the font of every result field ("ResultFontSize")
};

// One tab of the main window. The sheet calls, on the window thread:
//   initializePage  once, the first time the page becomes active (its controls are filled);
//   activatePage   every time it becomes the active tab (after initializePage the first time);
//   deactivatePage  every time another tab is chosen, and when the window closes.
// Pages that capture start in activatePage and stop in deactivatePage.
class PropertyPage : public QWidget
{
    Q_OBJECT
public:
    PropertyPage(const QString &caption, const QString &helpTopic, QWidget *parent = nullptr)
        : QWidget(parent), m_caption(caption), m_helpTopic(helpTopic)
    {}

    QString caption() const { return m_caption; }
    // Name of the page's entry in the built-in help.
    QString helpTopic() const { return m_helpTopic; }
    bool initialised() const { return m_initialised; }

    virtual void initializePage() {}
    virtual void activatePage() {}
    virtual void deactivatePage() {}

    // Runs initializePage on the first activation, then activatePage.
    void activate()
    {
        if (!m_initialised) {
            m_initialised = true;
            initializePage();
        }
        activatePage();
    }

private:
    QString m_caption;
    QString m_helpTopic;
    bool m_initialised = false;
};

} // namespace quillon
