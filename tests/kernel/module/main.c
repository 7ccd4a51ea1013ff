// SPDX-License-Identifier: GPL-2.0
/*
 * A test accelerometer for the IIO core: no hardware, driven from debugfs
 * (/sys/kernel/debug/norvo_vtap_accel/):
 *   plug    any write: registers the device (one at a time)
 *   unplug  any write: unregisters it, as an unbound driver does
 *   fire    a word the mode knows (tap mode: single, double, other; samples mode: play)
 *   and the mode's own (samples mode: samples, the trace to play)
 * Parameters: mode (what the device reports), per_axis (an enable switch per axis
 * instead of one shared by the axes).
 */
#include <linux/debugfs.h>
#include <linux/module.h>
#include <linux/string.h>
#include <linux/uaccess.h>

#include "vtap_accel.h"

static char *mode = "tap";
module_param(mode, charp, 0444);
MODULE_PARM_DESC(mode, "what the device reports: tap (single- and double-tap events) or samples (a buffer of x, y, z)");

static bool per_axis;
module_param(per_axis, bool, 0444);
MODULE_PARM_DESC(per_axis, "one enable switch per axis instead of one shared by the axes");

static const struct vtap_mode *const modes[] = { &vtap_tap_mode, &vtap_sample_mode };

static const struct vtap_mode *chosen;
static struct dentry *controls;
static DEFINE_MUTEX(plug_lock);
static struct iio_dev *plugged;	/* under plug_lock */

static int vtap_plug(void)
{
	struct iio_dev *indio_dev;
	struct vtap_accel *st;
	int ret;

	if (plugged)
		return -EBUSY;
	indio_dev = iio_device_alloc(NULL, sizeof(*st));
	if (!indio_dev)
		return -ENOMEM;
	st = iio_priv(indio_dev);
	mutex_init(&st->lock);
	st->per_axis = per_axis;
	st->indio_dev = indio_dev;
	indio_dev->name = "norvo-vtap-accel";
	indio_dev->modes = INDIO_DIRECT_MODE;
	ret = chosen->setup(indio_dev, per_axis);
	if (!ret)
		ret = iio_device_register(indio_dev);
	if (ret) {
		if (chosen->release)
			chosen->release(indio_dev);
		iio_device_free(indio_dev);
		return ret;
	}
	plugged = indio_dev;
	return 0;
}

/* The device goes; its memory stays until the last open descriptor is closed. */
static int vtap_unplug(void)
{
	if (!plugged)
		return -ENODEV;
	iio_device_unregister(plugged);
	if (chosen->release)
		chosen->release(plugged);
	iio_device_free(plugged);
	plugged = NULL;
	return 0;
}

static ssize_t control_write(struct file *file, const char __user *buf,
			     size_t len, loff_t *ppos)
{
	int (*action)(void) = file->private_data;
	char word[16];
	int ret;

	if (!action) {
		if (len >= sizeof(word))
			return -EINVAL;
		if (copy_from_user(word, buf, len))
			return -EFAULT;
		word[len] = '\0';
	}
	mutex_lock(&plug_lock);
	if (action)
		ret = action();
	else
		ret = plugged ? chosen->fire(plugged, strim(word)) : -ENODEV;
	mutex_unlock(&plug_lock);
	return ret ? ret : len;
}

static const struct file_operations control_fops = {
	.owner = THIS_MODULE,
	.open = simple_open,
	.write = control_write,
	.llseek = no_llseek,
};

static int __init vtap_init(void)
{
	size_t i;

	for (i = 0; i < ARRAY_SIZE(modes); i++)
		if (!strcmp(modes[i]->name, mode))
			chosen = modes[i];
	if (!chosen) {
		pr_err("norvo_vtap_accel: unknown mode %s\n", mode);
		return -EINVAL;
	}
	controls = debugfs_create_dir("norvo_vtap_accel", NULL);
	debugfs_create_file("plug", 0200, controls, vtap_plug, &control_fops);
	debugfs_create_file("unplug", 0200, controls, vtap_unplug, &control_fops);
	debugfs_create_file("fire", 0200, controls, NULL, &control_fops);
	if (chosen->add_controls)
		chosen->add_controls(controls);
	return 0;
}

static void __exit vtap_exit(void)
{
	debugfs_remove_recursive(controls);
	mutex_lock(&plug_lock);
	vtap_unplug();
	mutex_unlock(&plug_lock);
	if (chosen->cleanup)
		chosen->cleanup();
}

module_init(vtap_init);
module_exit(vtap_exit);
MODULE_DESCRIPTION("Test accelerometer for the NorvoVTap IIO tap sensor");
MODULE_LICENSE("GPL");
