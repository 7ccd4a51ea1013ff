/* SPDX-License-Identifier: GPL-2.0 */
/*
 * The test accelerometer's modes. A mode gives the device its channels and
 * answers the debugfs "fire" control; main.c owns the device's lifecycle
 * (plug, unplug) and the controls, whatever the mode.
 */
#ifndef VTAP_ACCEL_H
#define VTAP_ACCEL_H

#include <linux/debugfs.h>
#include <linux/hrtimer.h>
#include <linux/iio/iio.h>
#include <linux/mutex.h>

struct vtap_mode {
	const char *name;
	/* Channels and info of a device about to be registered. */
	int (*setup)(struct iio_dev *indio_dev, bool per_axis);
	/* A word written to debugfs "fire"; -EINVAL for one the mode lacks. */
	int (*fire)(struct iio_dev *indio_dev, const char *word);
	/* Optional: the mode's own debugfs controls, made once at load. */
	void (*add_controls)(struct dentry *dir);
	/* Optional: what setup took, given back once the device is unregistered (or never was). */
	void (*release)(struct iio_dev *indio_dev);
	/* Optional: what the mode holds beyond devices, at unload. */
	void (*cleanup)(void);
};

/* Single- and double-tap gesture events, each behind its enable switch. */
extern const struct vtap_mode vtap_tap_mode;
/* A stream of x, y, z samples in a software buffer, played from a trace. */
extern const struct vtap_mode vtap_sample_mode;

/* The device's own state, in iio_priv(). */
struct vtap_accel {
	struct mutex lock;	/* guards enabled and rate */
	bool per_axis;		/* one switch per axis, or one shared by all */
	unsigned long enabled;	/* bit (axis * 2 + double tap) */
	/* Sample mode. */
	struct iio_dev *indio_dev;
	struct iio_buffer *buffer;
	struct hrtimer timer;	/* one sample per period while the buffer runs */
	int rate;		/* Hz */
};

#endif
