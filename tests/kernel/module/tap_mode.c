// SPDX-License-Identifier: GPL-2.0
/*
 * Tap-event mode: three accelerometer axes that raise single- and double-tap
 * gesture events, as chips with tap detection do. Each kind of tap has an
 * enable switch, shared by the axes (in_accel_gesture_singletap_en) or one per
 * axis (in_accel_x_gesture_singletap_en ...); a tap is raised only while its
 * switch is on, as a real chip stays silent.
 */
#include <linux/iio/events.h>
#include <linux/string.h>

#include "vtap_accel.h"

#define VTAP_TAP_EVENT(dir_, mask_)				\
	{ .type = IIO_EV_TYPE_GESTURE, .dir = (dir_), mask_ = BIT(IIO_EV_INFO_ENABLE) }

#define VTAP_AXIS(axis_, events_)				\
	{							\
		.type = IIO_ACCEL,				\
		.modified = 1,					\
		.channel2 = (axis_),				\
		.info_mask_separate = BIT(IIO_CHAN_INFO_RAW),	\
		.info_mask_shared_by_type = BIT(IIO_CHAN_INFO_SCALE), \
		.event_spec = (events_),			\
		.num_event_specs = ARRAY_SIZE(events_),		\
	}

static const struct iio_event_spec shared_events[] = {
	VTAP_TAP_EVENT(IIO_EV_DIR_SINGLETAP, .mask_shared_by_type),
	VTAP_TAP_EVENT(IIO_EV_DIR_DOUBLETAP, .mask_shared_by_type),
};

static const struct iio_event_spec axis_events[] = {
	VTAP_TAP_EVENT(IIO_EV_DIR_SINGLETAP, .mask_separate),
	VTAP_TAP_EVENT(IIO_EV_DIR_DOUBLETAP, .mask_separate),
};

/* With a timestamp channel, as the chips have: the core then offers current_timestamp_clock. */
static const struct iio_chan_spec shared_channels[] = {
	VTAP_AXIS(IIO_MOD_X, shared_events),
	VTAP_AXIS(IIO_MOD_Y, shared_events),
	VTAP_AXIS(IIO_MOD_Z, shared_events),
	IIO_CHAN_SOFT_TIMESTAMP(3),
};

static const struct iio_chan_spec axis_channels[] = {
	VTAP_AXIS(IIO_MOD_X, axis_events),
	VTAP_AXIS(IIO_MOD_Y, axis_events),
	VTAP_AXIS(IIO_MOD_Z, axis_events),
	IIO_CHAN_SOFT_TIMESTAMP(3),
};

static unsigned int switch_bit(const struct vtap_accel *st, int axis,
			       enum iio_event_direction dir)
{
	return (st->per_axis ? axis - IIO_MOD_X : 0) * 2 +
	       (dir == IIO_EV_DIR_DOUBLETAP);
}

static int tap_read_raw(struct iio_dev *indio_dev,
			const struct iio_chan_spec *chan, int *val, int *val2,
			long mask)
{
	switch (mask) {
	case IIO_CHAN_INFO_RAW:
		*val = 0;
		return IIO_VAL_INT;
	case IIO_CHAN_INFO_SCALE:	/* 1 mg per step */
		*val = 0;
		*val2 = 9807;
		return IIO_VAL_INT_PLUS_MICRO;
	default:
		return -EINVAL;
	}
}

static int tap_read_event_config(struct iio_dev *indio_dev,
				 const struct iio_chan_spec *chan,
				 enum iio_event_type type,
				 enum iio_event_direction dir)
{
	struct vtap_accel *st = iio_priv(indio_dev);
	int on;

	mutex_lock(&st->lock);
	on = test_bit(switch_bit(st, chan->channel2, dir), &st->enabled);
	mutex_unlock(&st->lock);
	return on;
}

static int tap_write_event_config(struct iio_dev *indio_dev,
				  const struct iio_chan_spec *chan,
				  enum iio_event_type type,
				  enum iio_event_direction dir, int state)
{
	struct vtap_accel *st = iio_priv(indio_dev);

	mutex_lock(&st->lock);
	assign_bit(switch_bit(st, chan->channel2, dir), &st->enabled, state);
	mutex_unlock(&st->lock);
	return 0;
}

static const struct iio_info tap_info = {
	.read_raw = tap_read_raw,
	.read_event_config = tap_read_event_config,
	.write_event_config = tap_write_event_config,
};

static int tap_setup(struct iio_dev *indio_dev, bool per_axis)
{
	indio_dev->info = &tap_info;
	indio_dev->channels = per_axis ? axis_channels : shared_channels;
	indio_dev->num_channels = ARRAY_SIZE(shared_channels);
	return 0;
}

/* A tap on the X axis, pushed only while its switch is on. */
static void push_tap(struct iio_dev *indio_dev, enum iio_event_direction dir)
{
	struct vtap_accel *st = iio_priv(indio_dev);
	int axes = st->per_axis ? IIO_MOD_X : IIO_MOD_X_OR_Y_OR_Z;
	bool on;

	mutex_lock(&st->lock);
	on = test_bit(switch_bit(st, IIO_MOD_X, dir), &st->enabled);
	mutex_unlock(&st->lock);
	if (!on)
		return;
	iio_push_event(indio_dev,
		       IIO_MOD_EVENT_CODE(IIO_ACCEL, 0, axes, IIO_EV_TYPE_GESTURE, dir),
		       iio_get_time_ns(indio_dev));
}

/* "single", "double", or "other": a rising threshold, which has no switch here. */
static int tap_fire(struct iio_dev *indio_dev, const char *word)
{
	if (!strcmp(word, "single"))
		push_tap(indio_dev, IIO_EV_DIR_SINGLETAP);
	else if (!strcmp(word, "double"))
		push_tap(indio_dev, IIO_EV_DIR_DOUBLETAP);
	else if (!strcmp(word, "other"))
		iio_push_event(indio_dev,
			       IIO_MOD_EVENT_CODE(IIO_ACCEL, 0, IIO_MOD_X,
						  IIO_EV_TYPE_THRESH, IIO_EV_DIR_RISING),
			       iio_get_time_ns(indio_dev));
	else
		return -EINVAL;
	return 0;
}

const struct vtap_mode vtap_tap_mode = {
	.name = "tap",
	.setup = tap_setup,
	.fire = tap_fire,
};
