/* SPDX-License-Identifier: GPL-2.0 */
/*
 * The test accelerometer's modes. A mode gives the device its channels and
 * answers the debugfs "fire" control; main.c owns the device's lifecycle
 * (plug, unplug) and the controls, whatever the mode.
 */
#ifndef VTAP_ACCEL_H
#define VTAP_ACCEL_H

#include <linux/iio/iio.h>
#include <linux/mutex.h>

struct vtap_mode {
	const char *name;
	/* Channels and info of a device about to be registered. */
	int (*setup)(struct iio_dev *indio_dev, bool per_axis);
	/* A word written to debugfs "fire"; -EINVAL for one the mode lacks. */
	int (*fire)(struct iio_dev *indio_dev, const char *word);
};

/* Single- and double-tap gesture events, each behind its enable switch. */
extern const struct vtap_mode vtap_tap_mode;

/* The device's own state, in iio_priv(). */
struct vtap_accel {
	struct mutex lock;	/* guards enabled */
	bool per_axis;		/* one switch per axis, or one shared by all */
	unsigned long enabled;	/* bit (axis * 2 + double tap) */
};

#endif
